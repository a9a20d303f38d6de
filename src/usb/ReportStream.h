#pragma once
// The input side of one open device: the interrupt IN transfers kept pending on its
// endpoint, what happens when each completes, and the queue its reports wait in for Java.
//
// A completed transfer's report is stored and the transfer goes again at once, on whichever
// thread handles libusb's events (the event thread, most often). An empty transfer goes
// again at once too. A failure that may pass (a transfer error on a noisy bus, a timeout, the
// usbfs memory limit) pauses the transfer for a time that doubles with each failure in a row;
// the event thread sends it again when it is due. A stop code (the device gone, a stall,
// access refused, any other error) ends the reading; the reports already queued stay
// readable until the stream is destroyed.
#include "EventThread.h"
#include "ReportQueue.h"

#include <libusb-1.0/libusb.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

namespace nativesupport {

class ReportStream final : public EventClient {
public:
    // Reports of `reportLength` bytes; `handle` names the device in the log.
    ReportStream(int reportLength, int handle);
    // stop() first.
    ~ReportStream();
    ReportStream(const ReportStream&) = delete;
    ReportStream& operator=(const ReportStream&) = delete;

    // Starts reading endpoint 0x81 of `usbHandle`; logs the read thread's starting line
    // with the device's `product` and `firmware`. A stream that could not start has ended.
    void start(libusb_device_handle* usbHandle, const std::string& product, const std::string& firmware);
    // The line of a device whose reading cannot start: no memory or no event thread.
    static void logNotStarted(int handle);
    // Ends the reading, if it has not ended, and returns once no transfer is pending; the
    // stop line has been logged then.
    void stop();

    // Java's poll: the oldest report into `buffer` (room for the report length), or 0.
    int take(unsigned char* buffer) { return m_queue.take(buffer); }
    int reportLength() const { return m_queue.reportLength(); }

    // The event thread's side: when the paused transfers are due (steady clock, ns; 0 for
    // none), and sending them again.
    int64_t retryDueNs() const override { return m_retryAtNs.load(std::memory_order_acquire); }
    void retryParked() override;

private:
    static constexpr int kInTransfers = 4;
    struct Slot {
        ReportStream* stream = nullptr;
        libusb_transfer* transfer = nullptr;
        unsigned char* buffer = nullptr;
        bool submitted = false;   // m_mutex
        bool parked = false;      // m_mutex: waits for the retry
    };
    // What a completion or a retry leaves to be logged once m_mutex is released.
    struct Outcome {
        bool failureLine = false;
        int received = 0;
        int result = 0;
        bool stopLine = false;
        bool wake = false;
    };

    static void LIBUSB_CALL transferDone(libusb_transfer* transfer);
    void completed(Slot& slot, Outcome& outcome);
    void submit(Slot& slot, Outcome& outcome);
    void failed(Slot& slot, int result, int received, bool busError, Outcome& outcome);
    void endReading(Outcome& outcome);
    void finishIfIdle(Outcome& outcome);
    void report(const Outcome& outcome);
    void releaseTransfers();

    ReportQueue m_queue;
    const int m_handle;
    libusb_device_handle* m_usbHandle = nullptr;
    std::unique_ptr<unsigned char[]> m_buffers;
    Slot m_slots[kInTransfers];

    std::mutex m_mutex;
    std::condition_variable m_finishedChanged;
    int m_pending = 0;              // transfers submitted and not yet completed
    bool m_joined = false;          // served by the event thread
    bool m_ending = false;          // stop() or a stop code: nothing goes again
    bool m_stopLogged = false;
    bool m_finished = false;        // ending, nothing pending, the stop line logged
    int m_failures = 0;             // paused failures in a row
    bool m_burstLogged = false;     // a bus error of this burst has been logged
    std::atomic<int64_t> m_retryAtNs{0};
};

} // namespace nativesupport
