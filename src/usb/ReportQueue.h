#pragma once
// The input reports a device has sent and Java has not yet taken, oldest first.
//
// Reports are kept in slots of the report length, in chunks of 64 KiB taken from the system
// as the queue grows, up to 16 MiB (kMaxBytes); a chunk the pollers have emptied is given
// back as the next report arrives, but for one kept for reuse. A full queue drops its oldest
// report to keep the newest. Nothing here throws, and storing a report allocates nothing
// once the chunk it goes into exists.
//
// One producer (whichever thread completes the device's transfers) and any number of
// pollers. The producer writes a slot and then publishes it by advancing m_written; the
// pollers take turns on m_takeMutex, copy the oldest slot out and advance m_read. The
// producer takes m_takeMutex only to drop a report from a full queue, and it alone maps and
// unmaps chunks, so a poller never waits for it, and a chunk is never given back while a
// poller reads from it.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>

namespace nativesupport {

class ReportQueue {
public:
    static constexpr size_t kChunkBytes = 64 * 1024;
    static constexpr size_t kMaxBytes = 16 * 1024 * 1024;

    // `reportLength` bytes per report (1 to kChunkBytes); `handle` names the device in the
    // queue's log lines.
    ReportQueue(int reportLength, int handle);
    ~ReportQueue();
    ReportQueue(const ReportQueue&) = delete;
    ReportQueue& operator=(const ReportQueue&) = delete;

    // Producer. Stores a copy of the `received` bytes at `report` (at most the report
    // length), padded with zeros. False when it could not: no memory for a new chunk.
    bool push(const unsigned char* report, int received);

    // Poller. Copies the oldest report into `buffer` (which has room for the report length)
    // and removes it; gives the report length, or 0 when there is none. Never waits for the
    // producer.
    int take(unsigned char* buffer);
    bool empty() const;

    int reportLength() const { return m_reportLength; }
    // Reports held now (tests and benchmarks).
    uint64_t size() const;
    // Chunks mapped now, the spare included (tests and benchmarks).
    size_t chunksMapped() const { return m_mapped.load(std::memory_order_relaxed); }

private:
    static constexpr size_t kMaxChunks = kMaxBytes / kChunkBytes;

    unsigned char* slot(uint64_t sequence) const;
    unsigned char* chunkFor(uint64_t sequence);
    void dropOldest(uint64_t written);
    void releaseBehind(uint64_t read, uint64_t written);
    void noteDrained();

    const int m_reportLength;
    const int m_handle;
    const uint64_t m_slotsPerChunk;
    const uint64_t m_capacity;   // reports

    // Sequence numbers: reports [m_read, m_written) are queued. Report n lives in slot
    // n % m_slotsPerChunk of chunk (n / m_slotsPerChunk) % kMaxChunks.
    std::atomic<uint64_t> m_written{0};
    std::atomic<uint64_t> m_read{0};
    std::atomic<unsigned char*> m_chunks[kMaxChunks] = {};
    unsigned char* m_spare = nullptr;   // producer only
    std::atomic<size_t> m_mapped{0};
    std::mutex m_takeMutex;

    // Dropped reports since the queue last drained, and when the producer last said so.
    std::atomic<uint64_t> m_dropped{0};
    int64_t m_droppedLineAt = 0;   // producer only; steady clock, ns
    bool m_noMemoryLogged = false;   // producer only
};

} // namespace nativesupport
