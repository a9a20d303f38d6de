#include "ReportQueue.h"

#include "SteadyClock.h"

#include <sys/mman.h>
#include <syslog.h>

#include <algorithm>
#include <cstring>

namespace nativesupport {

namespace {
const int64_t kDropLineIntervalNs = 10'000'000'000;
// How many reports ahead of the one taken a poll fetches into the cache.
const uint64_t kPrefetchAhead = 4;

unsigned char* mapChunk(size_t bytes)
{
    void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return p == MAP_FAILED ? nullptr : static_cast<unsigned char*>(p);
}

// The most slots of `reportLength` bytes that fit a chunk, as a power of two: its log2.
unsigned slotShiftFor(int reportLength)
{
    unsigned shift = 0;
    while ((size_t{2} << shift) * static_cast<size_t>(reportLength) <= ReportQueue::kChunkBytes)
        shift++;
    return shift;
}
}

ReportQueue::ReportQueue(int reportLength, int handle)
    : m_reportLength(std::clamp(reportLength, 1, static_cast<int>(kChunkBytes))),
      m_handle(handle),
      m_slotShift(slotShiftFor(m_reportLength)),
      m_slotMask((uint64_t{1} << m_slotShift) - 1),
      m_chunkBytes((size_t{1} << m_slotShift) * static_cast<size_t>(m_reportLength)),
      m_capacity((uint64_t{1} << m_slotShift) * kMaxChunks)
{
}

ReportQueue::~ReportQueue()
{
    for (auto& chunk : m_chunks) {
        if (unsigned char* p = chunk.load(std::memory_order_relaxed))
            munmap(p, m_chunkBytes);
    }
}

unsigned char* ReportQueue::slot(uint64_t sequence) const
{
    unsigned char* chunk = m_chunks[(sequence >> m_slotShift) % kMaxChunks].load(std::memory_order_acquire);
    return chunk + (sequence & m_slotMask) * static_cast<uint64_t>(m_reportLength);
}

bool ReportQueue::push(const unsigned char* report, int received)
{
    const uint64_t written = m_written.load(std::memory_order_relaxed);
    if (written - m_read.load(std::memory_order_acquire) >= m_capacity)
        dropOldest(written);
    if ((written & m_slotMask) == 0)
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

// The chunk report `sequence` goes into, mapped if it is not yet.
unsigned char* ReportQueue::chunkFor(uint64_t sequence)
{
    const size_t index = (sequence >> m_slotShift) % kMaxChunks;
    unsigned char* chunk = m_chunks[index].load(std::memory_order_relaxed);
    if (chunk == nullptr) {
        chunk = mapChunk(m_chunkBytes);
        if (chunk == nullptr)
            return nullptr;
        m_chunks[index].store(chunk, std::memory_order_release);
    }
    m_resident[index] = true;
    return chunk;
}

// A full queue: the oldest report goes, so that the one being stored fits. A poller that
// copies it meanwhile finds its claim refused.
void ReportQueue::dropOldest(uint64_t written)
{
    const uint64_t oldestKept = written - m_capacity + 1;
    uint64_t read = m_read.load(std::memory_order_acquire);
    while (read < oldestKept && !m_read.compare_exchange_weak(read, oldestKept, std::memory_order_acq_rel)) {
    }
    if (read >= oldestKept)
        return;   // the pollers made room meanwhile
    const uint64_t dropped = oldestKept - read;
    const uint64_t before = m_dropped.fetch_add(dropped, std::memory_order_relaxed);
    const int64_t now = steadyNs();
    if (before == 0 || now - m_droppedLineAt >= kDropLineIntervalNs) {
        m_droppedLineAt = now;
        syslog(LOG_DEBUG, "NATIVESUPPORT: Input report queue for handle %d is full.  Dropped %llu oldest reports so far.",
               m_handle, static_cast<unsigned long long>(before + dropped));
    }
}

// Gives the memory of the chunks that hold no queued report back to the system: all but
// those from the oldest report's chunk to the newest one's. They stay mapped, so that a
// poller still copying from one reads zeros rather than fault; its claim is refused.
void ReportQueue::releaseBehind(uint64_t read, uint64_t written)
{
    const uint64_t first = read >> m_slotShift;
    const uint64_t last = written >> m_slotShift;
    if (last - first + 1 >= kMaxChunks)
        return;
    for (uint64_t n = last + 1; n < first + kMaxChunks; n++) {
        const size_t index = n % kMaxChunks;
        if (!m_resident[index])
            continue;
        madvise(m_chunks[index].load(std::memory_order_relaxed), m_chunkBytes, MADV_DONTNEED);
        m_resident[index] = false;
    }
}

int ReportQueue::take(unsigned char* buffer)
{
    uint64_t read = m_read.load(std::memory_order_acquire);
    for (;;) {
        const uint64_t written = m_written.load(std::memory_order_acquire);
        if (read == written)
            return 0;
        std::memcpy(buffer, slot(read), static_cast<size_t>(m_reportLength));
        if (m_read.compare_exchange_strong(read, read + 1, std::memory_order_acq_rel)) {
            // A later report is fetched into the cache meanwhile: the producer wrote it on
            // another processor, and a backlog is taken one poll after the other, faster
            // than one fetch from another processor's cache.
            if (read + 1 != written)
                __builtin_prefetch(slot(std::min(read + kPrefetchAhead, written - 1)));
            else if (m_dropped.load(std::memory_order_relaxed) != 0 &&
                     read + 1 == m_written.load(std::memory_order_acquire))
                noteDrained();
            return m_reportLength;
        }
        // Taken by another poller or dropped by the producer: `read` holds the oldest now.
    }
}

void ReportQueue::noteDrained()
{
    const uint64_t dropped = m_dropped.exchange(0, std::memory_order_relaxed);
    if (dropped != 0)
        syslog(LOG_DEBUG, "NATIVESUPPORT: Input report queue for handle %d has drained.  Dropped %llu reports in all.",
               m_handle, static_cast<unsigned long long>(dropped));
}

} // namespace nativesupport
