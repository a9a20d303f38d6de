#include "ReportStream.h"

#include "SteadyClock.h"

#include "LibUsbError.h"
#include "SyncTransfer.h"

#include <syslog.h>

#include <algorithm>
#include <new>

namespace nativesupport {

namespace {
const unsigned char kInEndpoint = 0x81;
const int64_t kMaxRetryPauseNs = 100'000'000;

// The results that end the reading. A transfer error (LIBUSB_ERROR_IO: a noisy cable or hub
// on a device still attached) is not one of them.
bool isStopCode(int result)
{
    return result == LIBUSB_ERROR_ACCESS || result == LIBUSB_ERROR_NO_DEVICE || result == LIBUSB_ERROR_PIPE ||
           result == LIBUSB_ERROR_OTHER;
}

bool isBusError(int result)
{
    return result == LIBUSB_ERROR_IO || result == LIBUSB_ERROR_TIMEOUT;
}

void logStart(const std::string& product, const std::string& firmware)
{
    syslog(LOG_DEBUG, "NATIVESUPPORT: Read thread is starting for device: %s %s", product.c_str(), firmware.c_str());
}
}

ReportStream::ReportStream(int reportLength, int handle) : m_queue(reportLength, handle), m_handle(handle) {}

ReportStream::~ReportStream()
{
    releaseTransfers();
}

void ReportStream::releaseTransfers()
{
    for (Slot& slot : m_slots) {
        libusb_free_transfer(slot.transfer);
        slot.transfer = nullptr;
    }
}

void ReportStream::start(libusb_device_handle* usbHandle, const std::string& product, const std::string& firmware)
{
    logStart(product, firmware);
    m_usbHandle = usbHandle;
    const int length = m_queue.reportLength();
    m_buffers.reset(new (std::nothrow) unsigned char[static_cast<size_t>(kInTransfers) * length]);
    bool ready = m_buffers != nullptr;
    for (int i = 0; i < kInTransfers && ready; i++) {
        m_slots[i].stream = this;
        m_slots[i].buffer = m_buffers.get() + static_cast<size_t>(i) * length;
        m_slots[i].transfer = libusb_alloc_transfer(0);
        ready = m_slots[i].transfer != nullptr;
    }
    ready = ready && EventThread::instance().join(this);
    Outcome outcome;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_joined = ready;
        if (ready) {
            for (Slot& slot : m_slots)
                submit(slot, outcome);
        } else {
            logNotStarted(m_handle);
            endReading(outcome);
        }
    }
    report(outcome);
}

void ReportStream::logNotStarted(int handle)
{
    syslog(LOG_DEBUG, "NATIVESUPPORT: No memory or thread for reading the reports of handle %d.", handle);
}

void ReportStream::stop()
{
    Outcome outcome;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_ending)
            endReading(outcome);
    }
    report(outcome);
    bool joined;
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_finishedChanged.wait(lock, [this] { return m_finished; });
        joined = m_joined;
        m_joined = false;
    }
    if (joined)
        EventThread::instance().leave(this);
}

// Runs on whichever thread handles libusb's events, under libusb's event lock, so that the
// completions of one stream never overlap: the queue has one producer. Nothing may escape
// into libusb's C frames.
void LIBUSB_CALL ReportStream::transferDone(libusb_transfer* transfer)
{
    Slot& slot = *static_cast<Slot*>(transfer->user_data);
    ReportStream& stream = *slot.stream;
    Outcome outcome;
    try {
        stream.completed(slot, outcome);
    } catch (...) {
        // Nothing in completed() throws; should it, the slot is handled as a failure that passes.
    }
    stream.report(outcome);   // its last touch of the stream
}

void ReportStream::completed(Slot& slot, Outcome& outcome)
{
    libusb_transfer* transfer = slot.transfer;
    const int received = transfer->actual_length;
    const bool gotReport = transfer->status == LIBUSB_TRANSFER_COMPLETED && received > 0;
    if (gotReport)
        m_queue.push(slot.buffer, received);   // a report it cannot store it drops, with a line

    std::lock_guard<std::mutex> lock(m_mutex);
    slot.submitted = false;
    m_pending--;
    if (m_ending) {
        finishIfIdle(outcome);
        return;
    }
    if (gotReport) {
        m_failures = 0;
        m_burstLogged = false;
    } else if (transfer->status == LIBUSB_TRANSFER_COMPLETED) {
        // An empty transfer: its line, and the next one at once.
        outcome.failureLine = true;
        outcome.received = 0;
        outcome.result = 0;
    } else if (transfer->status != LIBUSB_TRANSFER_CANCELLED) {
        const int result = resultOf(transfer);
        failed(slot, result, received, isBusError(result), outcome);
        return;
    }
    submit(slot, outcome);
}

// m_mutex held.
void ReportStream::submit(Slot& slot, Outcome& outcome)
{
    slot.parked = false;
    if (m_ending)
        return;
    libusb_fill_interrupt_transfer(slot.transfer, m_usbHandle, kInEndpoint, slot.buffer, m_queue.reportLength(),
                                   transferDone, &slot, 0);
    const int submitted = libusb_submit_transfer(slot.transfer);
    if (submitted == 0) {
        slot.submitted = true;
        m_pending++;
        return;
    }
    failed(slot, submitted, 0, submitted == LIBUSB_ERROR_IO, outcome);
}

// A failed transfer or submission; m_mutex held. A stop code ends the reading. Anything else
// passes: the slot waits for a pause that doubles with each failure in a row, up to
// kMaxRetryPauseNs, so that a device failing every transfer costs next to nothing and one that
// recovers is read again. A burst of bus errors is logged once.
void ReportStream::failed(Slot& slot, int result, int received, bool busError, Outcome& outcome)
{
    if (isStopCode(result) || !busError || !m_burstLogged) {
        outcome.failureLine = true;
        outcome.received = received;
        outcome.result = result;
    }
    if (isStopCode(result)) {
        endReading(outcome);
        return;
    }
    m_burstLogged = m_burstLogged || busError;
    m_failures = std::min(m_failures + 1, 31);
    const int64_t pause = std::min<int64_t>(kMaxRetryPauseNs, int64_t{1'000'000} << std::min(m_failures - 1, 16));
    slot.parked = true;
    m_retryAtNs.store(steadyNs() + pause, std::memory_order_release);
    outcome.wake = true;
}

void ReportStream::retryParked()
{
    Outcome outcome;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        const int64_t due = m_retryAtNs.load(std::memory_order_relaxed);
        if (due == 0 || steadyNs() < due)
            return;
        m_retryAtNs.store(0, std::memory_order_relaxed);
        for (Slot& slot : m_slots) {
            if (slot.parked)
                submit(slot, outcome);
        }
    }
    report(outcome);
}

// Nothing goes again, and what is pending is cancelled; m_mutex held.
void ReportStream::endReading(Outcome& outcome)
{
    m_ending = true;
    m_retryAtNs.store(0, std::memory_order_relaxed);
    for (Slot& slot : m_slots) {
        slot.parked = false;
        if (slot.submitted)
            libusb_cancel_transfer(slot.transfer);
    }
    finishIfIdle(outcome);
}

// m_mutex held.
void ReportStream::finishIfIdle(Outcome& outcome)
{
    if (m_ending && m_pending == 0 && !m_stopLogged) {
        m_stopLogged = true;
        outcome.stopLine = true;
    }
}

// The lines of an outcome, in order, without m_mutex. With the stop line, the stream is
// finished: stop() may return and the stream go the moment m_mutex is released, so that is
// the last thing done.
void ReportStream::report(const Outcome& outcome)
{
    if (outcome.failureLine)
        syslog(LOG_DEBUG, "NATIVESUPPORT: libusb_interrupt_transfer failed. Bytes written (%d). Error Code (%s)",
               outcome.received, libUsbErrorName(outcome.result));
    if (outcome.wake)
        EventThread::instance().wake();
    if (!outcome.stopLine)
        return;
    syslog(LOG_DEBUG, "NATIVESUPPORT: readThreadLoop has stopped. No IN transactions will be processed.");
    std::lock_guard<std::mutex> lock(m_mutex);
    m_finished = true;
    m_finishedChanged.notify_all();
}

} // namespace nativesupport
