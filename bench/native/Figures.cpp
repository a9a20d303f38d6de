#include "Figures.h"

#include <algorithm>
#include <cstdio>

namespace nsbench {

void printFigure(const std::string& key, double value, const std::string& unit, int decimals)
{
    std::printf("%-40s %14.*f %s\n", key.c_str(), decimals, value, unit.c_str());
    std::fflush(stdout);
}

void printNote(const std::string& text)
{
    std::printf("# %s\n", text.c_str());
    std::fflush(stdout);
}

namespace {
// Nearest-rank percentile of sorted values.
std::uint64_t percentile(const std::vector<std::uint64_t>& sorted, double p)
{
    std::size_t rank = static_cast<std::size_t>(p / 100.0 * static_cast<double>(sorted.size()) + 0.999999);
    rank = std::max<std::size_t>(1, std::min(rank, sorted.size()));
    return sorted[rank - 1];
}
}

void printLatencies(const std::string& prefix, std::vector<std::uint64_t> nanos)
{
    if (nanos.empty()) {
        printNote(prefix + ": no latencies measured");
        return;
    }
    std::sort(nanos.begin(), nanos.end());
    printFigure(prefix + ".latency_median_us", percentile(nanos, 50) / 1000.0, "us", 1);
    printFigure(prefix + ".latency_p99_us", percentile(nanos, 99) / 1000.0, "us", 1);
    printFigure(prefix + ".latency_max_us", nanos.back() / 1000.0, "us", 1);
}

double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

}  // namespace nsbench
