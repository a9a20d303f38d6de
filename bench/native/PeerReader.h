// A reader of the emulated tablet that the library is compared with: hidapi's libusb
// backend, or libusb's bare synchronous interrupt transfer as the floor.
#pragma once

#include <cstdint>

namespace nsbench {

class PeerReader {
public:
    virtual ~PeerReader() = default;
    // Opens the first device with these ids and gets it ready to read.
    virtual bool open(std::uint16_t vendor, std::uint16_t product) = 0;
    // Waits without a time limit for one report: its length, or < 0 once the device is
    // gone (the benchmark ends its reader by unplugging the tablet).
    virtual int read(std::uint8_t* buffer, int length) = 0;
};

// Runs the report path benchmark against `reader`, printing figures under `name`.
// Arguments: <reports per trial> <trials> <latency samples> <window>. Returns the exit status.
int runPeerBenchmark(const char* name, PeerReader& reader, int argc, char** argv);

}  // namespace nsbench
