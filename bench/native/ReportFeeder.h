// Drives the emulated tablet for the report path benchmarks: the same feeding for every
// reader, so the library, hidapi and bare libusb see identical traffic.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <vector>

#include "Emulator.h"
#include "StampedReport.h"

namespace nsbench {

// The emulated pen tablet every reader reads (0x078c:0x0600), its interrupt IN endpoint's
// wMaxPacketSize `packetSize`, polled by the host every millisecond as a 1000 Hz pen is.
nsemu::DeviceDescription benchTablet(int bus, int address, int packetSize = kReportLength);

class ReportFeeder {
public:
    // `taken` tells how many reports the reader under test has taken so far.
    ReportFeeder(nsemu::DeviceId device, std::function<std::uint64_t()> taken);

    // Feeds `count` reports as fast as the reader takes them, never more than `window`
    // fed and not yet taken (below any reader's own queue limit, so nothing is dropped
    // for lack of room). False if the reader stopped taking reports for seconds.
    bool stream(std::uint64_t count, std::uint64_t window);

    // Feeds `count` reports one at a time, each into an IN transfer the host already
    // has pending, only once the previous one was taken and at least a millisecond
    // after it, as the fastest (1000 Hz) tablets send them: the stamp in each report is
    // the moment its transfer completed. Back-to-back reports are stream's business.
    bool pingPong(std::uint64_t count);

    std::uint64_t fed() const { return m_fed; }

private:
    bool waitUntilTaken(std::uint64_t atLeast);
    void feedOne();

    nsemu::DeviceId m_device;
    std::function<std::uint64_t()> m_taken;
    std::uint64_t m_fed = 0;
};

// Feeds each device `count` stamped reports (sequence 0, 1, ...) `interval` apart, the
// devices' turns spread evenly over the interval. A turn that comes late is fed at once:
// the stamp is the moment of feeding, so lateness never counts as latency. Returns how
// many reports each device was fed (a device unplugged meanwhile keeps them queued). With
// `emptyBlock` set, the devices take turns by blocks of that many reports: they wait while
// they have no report in the first, answer every poll with an empty packet meanwhile in the
// second, and so on; they wait again at the end.
std::vector<std::uint64_t> feedPaced(const std::vector<nsemu::DeviceId>& devices, std::uint64_t count,
                                     std::chrono::microseconds interval, std::uint64_t emptyBlock = 0);

}  // namespace nsbench
