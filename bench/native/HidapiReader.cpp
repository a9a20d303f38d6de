// The peer: hidapi's libusb backend (Debian's libhidapi-libusb) reading the emulated
// tablet with hid_read_timeout, as an application would that picked hidapi.
#include <hidapi/hidapi.h>

#include "PeerReader.h"

namespace {
class HidapiReader : public nsbench::PeerReader {
public:
    ~HidapiReader() override
    {
        if (m_device != nullptr)
            hid_close(m_device);
        hid_exit();
    }

    bool open(std::uint16_t vendor, std::uint16_t product) override
    {
        if (hid_init() != 0)
            return false;
        m_device = hid_open(vendor, product, nullptr);
        return m_device != nullptr;
    }

    int read(std::uint8_t* buffer, int length) override
    {
        return hid_read_timeout(m_device, buffer, static_cast<size_t>(length), -1);
    }

private:
    hid_device* m_device = nullptr;
};
}

int main(int argc, char** argv)
{
    HidapiReader reader;
    return nsbench::runPeerBenchmark("hidapi", reader, argc, argv);
}
