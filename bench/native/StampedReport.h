// The reports the benchmarks feed: a 64-byte pen report (report id 2) that carries its
// sequence number and the moment the emulator completed the IN transfer with it, so
// every reader can tell losses, order and latency from the bytes alone.
#pragma once

#include <cstdint>
#include <cstring>
#include <ctime>
#include <vector>

namespace nsbench {

constexpr int kReportLength = 64;      // the tablets' interrupt IN packet size
constexpr int kSequenceOffset = 8;     // little-endian uint64
constexpr int kStampOffset = 16;       // little-endian uint64, CLOCK_MONOTONIC ns

// CLOCK_MONOTONIC in nanoseconds: the clock of Java's System.nanoTime on Linux.
inline std::uint64_t monotonicNanos()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1000000000ull + static_cast<std::uint64_t>(now.tv_nsec);
}

inline std::vector<std::uint8_t> stampedReport(std::uint64_t sequence, std::uint64_t stamp)
{
    std::vector<std::uint8_t> report(kReportLength, 0);
    report[0] = 0x02;
    std::memcpy(report.data() + kSequenceOffset, &sequence, sizeof sequence);
    std::memcpy(report.data() + kStampOffset, &stamp, sizeof stamp);
    return report;
}

inline std::uint64_t sequenceOf(const std::uint8_t* report)
{
    std::uint64_t v;
    std::memcpy(&v, report + kSequenceOffset, sizeof v);
    return v;
}

inline std::uint64_t stampOf(const std::uint8_t* report)
{
    std::uint64_t v;
    std::memcpy(&v, report + kStampOffset, sizeof v);
    return v;
}

}  // namespace nsbench
