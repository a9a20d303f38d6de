// The device node of an emulated device is a FIFO that doubles as the
// "URBs are waiting to be reaped" signal libusb polls for (POLLOUT): the
// pipe is kept full while nothing completed and drained while something
// did. Opened O_RDWR, a FIFO never blocks on open.
#pragma once

#include <memory>
#include <string>

namespace nsemu {

class ReadinessFifo {
public:
    // Creates the FIFO at path (not ready) and keeps it open.
    static std::unique_ptr<ReadinessFifo> create(const std::string& path);
    ~ReadinessFifo();
    ReadinessFifo(const ReadinessFifo&) = delete;
    ReadinessFifo& operator=(const ReadinessFifo&) = delete;

    void setReady(bool ready);
    bool ready() const { return m_ready; }

private:
    explicit ReadinessFifo(int fd) : m_fd(fd) {}
    void fill();
    void drain();

    int m_fd;
    bool m_ready = true;  // a fresh pipe is writable
};

}  // namespace nsemu
