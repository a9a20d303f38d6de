// The report path benchmark of a peer reader, in a process of its own: the emulated
// tablet, the shared feeder on the main thread, and the reader on a thread of its own.
#include <atomic>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Emulator.h"
#include "Figures.h"
#include "PeerReader.h"
#include "Preload.h"
#include "ReportFeeder.h"
#include "StampedReport.h"
#include "ThreadCpu.h"

namespace nsbench {

namespace {
constexpr std::uint16_t kVendor = 0x078c;
constexpr std::uint16_t kProduct = 0x0600;

// The reader's thread: takes reports until the device is gone, checks their order and,
// while asked to, records each one's latency.
class ReaderLoop {
public:
    explicit ReaderLoop(PeerReader& reader) : m_reader(reader), m_thread([this] { run(); }) {}
    ~ReaderLoop() { m_thread.join(); }

    // Ends the loop; `unplug` takes the device away from under the waiting reader.
    void stop(const std::function<void()>& unplug)
    {
        m_stop = true;
        unplug();
    }

    std::uint64_t taken() const { return m_taken.load(std::memory_order_acquire); }
    std::uint64_t outOfOrder() const { return m_outOfOrder.load(); }
    bool failed() const { return m_failed.load(); }
    void recordLatencies(bool on) { m_recording = on; }
    std::vector<std::uint64_t> latencies()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_latencies;
    }

private:
    void run()
    {
        std::uint8_t report[kReportLength];
        while (!m_stop) {
            const int got = m_reader.read(report, kReportLength);
            const std::uint64_t now = monotonicNanos();
            if (got < 0) {
                m_failed = !m_stop;
                return;
            }
            if (got < kStampOffset + 8)
                continue;
            take(report, now);
        }
    }

    void take(const std::uint8_t* report, std::uint64_t now)
    {
        const std::uint64_t expected = m_taken.load(std::memory_order_relaxed);
        if (sequenceOf(report) != expected)
            m_outOfOrder.fetch_add(1);
        if (m_recording) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_latencies.push_back(now - stampOf(report));
        }
        m_taken.store(expected + 1, std::memory_order_release);
    }

    PeerReader& m_reader;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_recording{false};
    std::atomic<bool> m_failed{false};
    std::atomic<std::uint64_t> m_taken{0};
    std::atomic<std::uint64_t> m_outOfOrder{0};
    std::mutex m_mutex;
    std::vector<std::uint64_t> m_latencies;
    std::thread m_thread;
};

struct Plan {
    std::uint64_t reportsPerTrial = 20000;
    int trials = 5;
    std::uint64_t latencySamples = 5000;
    std::uint64_t window = 16;
};

Plan planFrom(int argc, char** argv)
{
    Plan plan;
    if (argc > 1) plan.reportsPerTrial = std::strtoull(argv[1], nullptr, 10);
    if (argc > 2) plan.trials = std::atoi(argv[2]);
    if (argc > 3) plan.latencySamples = std::strtoull(argv[3], nullptr, 10);
    if (argc > 4) plan.window = std::strtoull(argv[4], nullptr, 10);
    return plan;
}

int fail(const std::string& why)
{
    printNote(why);
    return 1;
}

int measure(const std::string& prefix, const Plan& plan, nsemu::DeviceId device, const std::set<int>& before,
            ReaderLoop& loop)
{
    ReportFeeder feeder(device, [&loop] { return loop.taken(); });

    if (!feeder.stream(plan.reportsPerTrial / 10, plan.window))   // warm-up
        return fail(prefix + ": the reader stopped taking reports during the warm-up");
    std::vector<double> rates;
    const auto cpuBefore = threadUsage();
    std::uint64_t streamed = 0;
    for (int t = 0; t < plan.trials; ++t) {
        const std::uint64_t start = monotonicNanos();
        if (!feeder.stream(plan.reportsPerTrial, plan.window))
            return fail(prefix + ": the reader stopped taking reports");
        rates.push_back(plan.reportsPerTrial * 1e9 / static_cast<double>(monotonicNanos() - start));
        streamed += plan.reportsPerTrial;
    }
    const ThreadUsage cpu = usageOfNewThreads(before, cpuBefore, threadUsage());

    loop.recordLatencies(true);
    if (!feeder.pingPong(plan.latencySamples))
        return fail(prefix + ": the reader stopped taking reports while measuring latency");
    loop.recordLatencies(false);

    printFigure(prefix + ".throughput", median(rates), "reports/s", 0);
    printFigure(prefix + ".cpu_per_report_us", cpu.runNanos / 1000.0 / static_cast<double>(streamed), "us", 2);
    printLatencies(prefix, loop.latencies());
    printFigure(prefix + ".lost", static_cast<double>(feeder.fed() - loop.taken() + loop.outOfOrder()), "reports", 0);
    return loop.failed() ? 1 : 0;
}
}

int runPeerBenchmark(const char* name, PeerReader& reader, int argc, char** argv)
{
    nsemu::ensurePreloaded(argc, argv);
    nsemu::Emulator& emu = nsemu::Emulator::instance();
    const Plan plan = planFrom(argc, argv);
    const std::string prefix = name;
    const nsemu::DeviceId device = emu.plug(benchTablet(1, 2));

    const std::set<int> before = threadIds();
    if (!reader.open(kVendor, kProduct))
        return fail(prefix + ": cannot open the emulated tablet");
    ReaderLoop loop(reader);
    const int status = measure(prefix, plan, device, before, loop);
    loop.stop([&emu, device] { emu.unplug(device); });
    return status;
}

}  // namespace nsbench
