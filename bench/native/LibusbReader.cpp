// The floor: libusb's bare synchronous loop, one libusb_interrupt_transfer per report on
// the reading thread, with no queue and no thread in between.
#include <libusb.h>

#include "PeerReader.h"

namespace {
class LibusbReader : public nsbench::PeerReader {
public:
    ~LibusbReader() override
    {
        if (m_handle != nullptr) {
            libusb_release_interface(m_handle, 0);
            libusb_close(m_handle);
        }
        if (m_context != nullptr)
            libusb_exit(m_context);
    }

    bool open(std::uint16_t vendor, std::uint16_t product) override
    {
        if (libusb_init(&m_context) != 0)
            return false;
        m_handle = libusb_open_device_with_vid_pid(m_context, vendor, product);
        return m_handle != nullptr && libusb_claim_interface(m_handle, 0) == 0;
    }

    int read(std::uint8_t* buffer, int length) override
    {
        int received = 0;
        const int r = libusb_interrupt_transfer(m_handle, 0x81, buffer, length, &received, 0);
        return r == 0 ? received : -1;
    }

private:
    libusb_context* m_context = nullptr;
    libusb_device_handle* m_handle = nullptr;
};
}

int main(int argc, char** argv)
{
    LibusbReader reader;
    return nsbench::runPeerBenchmark("libusb", reader, argc, argv);
}
