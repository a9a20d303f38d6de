// How every benchmark prints what it measured: one figure a line, "<key> <value> <unit>",
// so that the report is built from exactly these lines. Other output starts with '#'.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace nsbench {

void printFigure(const std::string& key, double value, const std::string& unit, int decimals);
void printNote(const std::string& text);

// Median, 99th percentile (nearest rank) and maximum of latencies in nanoseconds,
// printed in microseconds as <prefix>.latency_median_us, _p99_us, _max_us.
void printLatencies(const std::string& prefix, std::vector<std::uint64_t> nanos);

// The median of a few trial results.
double median(std::vector<double> values);

}  // namespace nsbench
