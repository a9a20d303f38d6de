#include "Readiness.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace nsemu {

namespace {

// One page is the smallest pipe; filling it then takes a single write.
constexpr int kPipeBytes = 4096;

}  // namespace

std::unique_ptr<ReadinessFifo> ReadinessFifo::create(const std::string& path)
{
    unlink(path.c_str());
    if (mkfifo(path.c_str(), 0666) != 0)
        throw std::runtime_error("mkfifo " + path + ": " + std::strerror(errno));
    int fd = open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        throw std::runtime_error("open " + path + ": " + std::strerror(errno));
    fcntl(fd, F_SETPIPE_SZ, kPipeBytes);  // best effort; filling copes with any size
    std::unique_ptr<ReadinessFifo> fifo(new ReadinessFifo(fd));
    fifo->setReady(false);
    return fifo;
}

ReadinessFifo::~ReadinessFifo()
{
    close(m_fd);
}

void ReadinessFifo::setReady(bool ready)
{
    if (ready == m_ready)
        return;
    if (ready)
        drain();
    else
        fill();
    m_ready = ready;
}

void ReadinessFifo::fill()
{
    static const char zeros[kPipeBytes] = {};
    while (write(m_fd, zeros, sizeof zeros) > 0 || errno == EINTR) {
    }
}

void ReadinessFifo::drain()
{
    char sink[kPipeBytes];
    while (read(m_fd, sink, sizeof sink) > 0 || errno == EINTR) {
    }
}

}  // namespace nsemu
