#include "ReportFeeder.h"

#include <thread>

#include "Models.h"

namespace nsbench {

namespace {
// How long a reader may go without taking a report before the run counts it as stuck.
constexpr std::chrono::seconds kStalled{5};
// The feeder's pause while the window is full: short against a report's trip.
constexpr std::chrono::microseconds kPause{20};
// The gap between reports while latency is measured: a 1000 Hz tablet's.
constexpr std::chrono::microseconds kReportInterval{1000};
}

nsemu::DeviceDescription benchTablet(int bus, int address, int packetSize)
{
    nsemu::DeviceDescription tablet = nsemu::models::tablet(0x078c, 0x0600, bus, address);
    tablet.inPacketSize = static_cast<std::uint16_t>(packetSize);
    tablet.inInterval = 1;   // a millisecond, or a microframe at high speed
    if (packetSize > 64)
        tablet.speed = "480";   // interrupt packets over 64 bytes are high speed's
    return tablet;
}

ReportFeeder::ReportFeeder(nsemu::DeviceId device, std::function<std::uint64_t()> taken)
    : m_device(device), m_taken(std::move(taken))
{
}

bool ReportFeeder::waitUntilTaken(std::uint64_t atLeast)
{
    std::uint64_t last = m_taken();
    auto progress = std::chrono::steady_clock::now();
    while (last < atLeast) {
        std::this_thread::sleep_for(kPause);
        const std::uint64_t now = m_taken();
        if (now != last) {
            last = now;
            progress = std::chrono::steady_clock::now();
        } else if (std::chrono::steady_clock::now() - progress > kStalled) {
            return false;
        }
    }
    return true;
}

void ReportFeeder::feedOne()
{
    nsemu::Emulator::instance().feedInput(m_device, stampedReport(m_fed, monotonicNanos()));
    ++m_fed;
}

bool ReportFeeder::stream(std::uint64_t count, std::uint64_t window)
{
    const std::uint64_t end = m_fed + count;
    while (m_fed < end) {
        if (m_fed >= window && !waitUntilTaken(m_fed - window + 1))
            return false;
        feedOne();
    }
    return waitUntilTaken(end);
}

bool ReportFeeder::pingPong(std::uint64_t count)
{
    const std::uint64_t end = m_fed + count;
    auto next = std::chrono::steady_clock::now();
    while (m_fed < end) {
        if (!waitUntilTaken(m_fed) || !nsemu::Emulator::instance().waitForPendingIn(m_device))
            return false;
        std::this_thread::sleep_until(next);
        next = std::chrono::steady_clock::now() + kReportInterval;
        feedOne();
    }
    return waitUntilTaken(end);
}

std::vector<std::uint64_t> feedPaced(const std::vector<nsemu::DeviceId>& devices, std::uint64_t count,
                                     std::chrono::microseconds interval, std::uint64_t emptyBlock)
{
    nsemu::Emulator& emulator = nsemu::Emulator::instance();
    std::vector<std::uint64_t> fed(devices.size(), 0);
    if (devices.empty())
        return fed;
    const auto start = std::chrono::steady_clock::now();
    const auto turn = std::chrono::duration_cast<std::chrono::nanoseconds>(interval) / devices.size();
    const auto answerEmpty = [&](bool on) {
        for (nsemu::DeviceId device : devices)
            emulator.answerEmpty(device, on);
    };
    for (std::uint64_t k = 0; k < count; ++k) {
        if (emptyBlock != 0 && k % emptyBlock == 0)
            answerEmpty(k / emptyBlock % 2 == 1);
        for (std::size_t i = 0; i < devices.size(); ++i) {
            std::this_thread::sleep_until(start + k * interval + i * turn);
            emulator.feedInput(devices[i], stampedReport(k, monotonicNanos()));
            ++fed[i];
        }
    }
    if (emptyBlock != 0)
        answerEmpty(false);
    return fed;
}

}  // namespace nsbench
