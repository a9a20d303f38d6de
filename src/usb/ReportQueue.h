#pragma once
// The input reports a device has sent and Java has not yet taken, oldest first.
//
// Reports are kept in slots of the report length, in chunks of at most 64 KiB mapped as the
// queue grows, up to 16 MiB (kMaxBytes). A chunk holds a power of two of slots, so that
// finding a report's slot takes shifts and masks, not divisions. The memory of a chunk the
// pollers have emptied is given back to the system as the next report arrives (the chunk
// stays mapped until the queue goes, so that a late poller never reads from an unmapped
// page). A full queue drops its
// oldest report to keep the newest. Nothing here throws, and storing a report allocates
// nothing once its chunk is mapped.
//
// One producer (whichever thread completes the device's transfers) and any number of
// pollers, and no lock. The producer writes a slot and publishes it by advancing
// m_written. A poller copies the oldest slot out and then claims it by advancing m_read
// from the number it copied; should another poller have taken it meanwhile, or the producer
// dropped it to make room (and perhaps written the slot again), the claim fails and the
// poller copies the next one instead. So a poll never waits, and never hands out a report
// that was written over while it was copied.
#include <atomic>
#include <cstddef>
#include <cstdint>

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
    // and removes it; gives the report length, or 0 when there is none.
    int take(unsigned char* buffer);

    int reportLength() const { return m_reportLength; }

private:
    static constexpr size_t kMaxChunks = kMaxBytes / kChunkBytes;   // a power of two

    unsigned char* slot(uint64_t sequence) const;
    unsigned char* chunkFor(uint64_t sequence);
    void dropOldest(uint64_t written);
    void releaseBehind(uint64_t read, uint64_t written);
    void noteDrained();

    const int m_reportLength;
    const int m_handle;
    const unsigned m_slotShift;     // log2 of the slots in a chunk
    const uint64_t m_slotMask;      // the slots in a chunk, less one
    const size_t m_chunkBytes;
    const uint64_t m_capacity;      // reports

    // Sequence numbers: reports [m_read, m_written) are queued. Report n lives in slot
    // n & m_slotMask of chunk (n >> m_slotShift) % kMaxChunks.
    std::atomic<uint64_t> m_written{0};
    std::atomic<uint64_t> m_read{0};
    std::atomic<unsigned char*> m_chunks[kMaxChunks] = {};
    bool m_resident[kMaxChunks] = {};   // producer only: the chunk's memory may be in use

    // Dropped reports since the queue last drained, and when the producer last said so.
    std::atomic<uint64_t> m_dropped{0};
    int64_t m_droppedLineAt = 0;     // producer only; steady clock, ns
    bool m_noMemoryLogged = false;   // producer only
};

} // namespace nativesupport
