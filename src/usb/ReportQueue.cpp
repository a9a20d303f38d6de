#include "ReportQueue.h"

#include <sys/mman.h>
#include <syslog.h>

#include <algorithm>
#include <chrono>
#include <cstring>

namespace nativesupport {

namespace {
const int64_t kDropLineIntervalNs = 10'000'000'000;

int64_t steadyNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

unsigned char* mapChunk()
{
    void* p = mmap(nullptr, ReportQueue::kChunkBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return p == MAP_FAILED ? nullptr : static_cast<unsigned char*>(p);
}

void unmapChunk(unsigned char* chunk)
{
    if (chunk != nullptr)
        munmap(chunk, ReportQueue::kChunkBytes);
}
}

ReportQueue::ReportQueue(int reportLength, int handle)
    : m_reportLength(std::clamp(reportLength, 1, static_cast<int>(kChunkBytes))),
      m_handle(handle),
      m_slotsPerChunk(kChunkBytes / static_cast<size_t>(m_reportLength)),
      m_capacity(m_slotsPerChunk * kMaxChunks)
{
}

ReportQueue::~ReportQueue()
{
    for (auto& chunk : m_chunks)
        unmapChunk(chunk.load(std::memory_order_relaxed));
    unmapChunk(m_spare);
}

unsigned char* ReportQueue::slot(uint64_t sequence) const
{
    unsigned char* chunk = m_chunks[sequence / m_slotsPerChunk % kMaxChunks].load(std::memory_order_acquire);
    return chunk + sequence % m_slotsPerChunk * static_cast<uint64_t>(m_reportLength);
}

bool ReportQueue::push(const unsigned char* report, int received)
{
    const uint64_t written = m_written.load(std::memory_order_relaxed);
    if (written - m_read.load(std::memory_order_acquire) >= m_capacity)
        dropOldest(written);
    if (written % m_slotsPerChunk == 0)
        releaseBehind(m_read.load(std::memory_order_acquire), written);
    unsigned char* chunk = chunkFor(written);
    if (chunk == nullptr) {
        if (!m_noMemoryLogged)
            syslog(LOG_DEBUG, "NATIVESUPPORT: No memory for an input report for handle %d.  The report was dropped.",
                   m_handle);
        m_noMemoryLogged = true;
        return false;
    }
    m_noMemoryLogged = false;
    unsigned char* target = slot(written);
    const size_t length = static_cast<size_t>(m_reportLength);
    const size_t copied = std::min(length, static_cast<size_t>(std::max(received, 0)));
    std::memcpy(target, report, copied);
    std::memset(target + copied, 0, length - copied);
    m_written.store(written + 1, std::memory_order_release);
    return true;
}

// The chunk report `sequence` goes into, mapped (or the spare taken) if the entry is empty.
unsigned char* ReportQueue::chunkFor(uint64_t sequence)
{
    std::atomic<unsigned char*>& entry = m_chunks[sequence / m_slotsPerChunk % kMaxChunks];
    unsigned char* chunk = entry.load(std::memory_order_relaxed);
    if (chunk != nullptr)
        return chunk;
    if (m_spare != nullptr) {
        chunk = m_spare;
        m_spare = nullptr;
    } else {
        chunk = mapChunk();
        if (chunk == nullptr)
            return nullptr;
        m_mapped.fetch_add(1, std::memory_order_relaxed);
    }
    entry.store(chunk, std::memory_order_release);
    return chunk;
}

// A full queue: the oldest report goes, so that the one being stored fits. Under
// m_takeMutex no poller is copying the slot that is about to be written again.
void ReportQueue::dropOldest(uint64_t written)
{
    uint64_t dropped;
    {
        std::lock_guard<std::mutex> lock(m_takeMutex);
        const uint64_t read = m_read.load(std::memory_order_relaxed);
        if (written - read < m_capacity)
            return;   // a poller made room meanwhile
        const uint64_t oldestKept = written - m_capacity + 1;
        m_read.store(oldestKept, std::memory_order_release);
        dropped = oldestKept - read;
    }
    const uint64_t before = m_dropped.fetch_add(dropped, std::memory_order_relaxed);
    const int64_t now = steadyNs();
    if (before == 0 || now - m_droppedLineAt >= kDropLineIntervalNs) {
        m_droppedLineAt = now;
        syslog(LOG_DEBUG, "NATIVESUPPORT: Input report queue for handle %d is full.  Dropped %llu oldest reports so far.",
               m_handle, static_cast<unsigned long long>(before + dropped));
    }
}

// Gives back the chunks that hold no queued report and will not before the producer comes
// round to them again: all but those from the oldest report's chunk to the newest one's.
// The first is kept as the spare. Pollers only ever read from chunks in that range.
void ReportQueue::releaseBehind(uint64_t read, uint64_t written)
{
    const uint64_t first = read / m_slotsPerChunk;
    const uint64_t last = written / m_slotsPerChunk;
    if (last - first + 1 >= kMaxChunks)
        return;
    for (uint64_t n = last + 1; n < first + kMaxChunks; n++) {
        unsigned char* chunk = m_chunks[n % kMaxChunks].exchange(nullptr, std::memory_order_relaxed);
        if (chunk == nullptr)
            continue;
        if (m_spare == nullptr) {
            m_spare = chunk;
        } else {
            unmapChunk(chunk);
            m_mapped.fetch_sub(1, std::memory_order_relaxed);
        }
    }
}

int ReportQueue::take(unsigned char* buffer)
{
    if (empty())
        return 0;
    bool drained;
    {
        std::lock_guard<std::mutex> lock(m_takeMutex);
        const uint64_t read = m_read.load(std::memory_order_relaxed);
        if (read == m_written.load(std::memory_order_acquire))
            return 0;
        std::memcpy(buffer, slot(read), static_cast<size_t>(m_reportLength));
        m_read.store(read + 1, std::memory_order_release);
        drained = read + 1 == m_written.load(std::memory_order_acquire);
    }
    if (drained && m_dropped.load(std::memory_order_relaxed) != 0)
        noteDrained();
    return m_reportLength;
}

void ReportQueue::noteDrained()
{
    const uint64_t dropped = m_dropped.exchange(0, std::memory_order_relaxed);
    if (dropped != 0)
        syslog(LOG_DEBUG, "NATIVESUPPORT: Input report queue for handle %d has drained.  Dropped %llu reports in all.",
               m_handle, static_cast<unsigned long long>(dropped));
}

bool ReportQueue::empty() const
{
    return m_read.load(std::memory_order_relaxed) == m_written.load(std::memory_order_acquire);
}

uint64_t ReportQueue::size() const
{
    const uint64_t read = m_read.load(std::memory_order_acquire);
    return m_written.load(std::memory_order_acquire) - read;
}

} // namespace nativesupport
