// The input path: one read thread per open device keeps interrupt IN transfers pending
// and each report is queued as its transfer completes; Java takes them one at a time
// with read_Device.
//
// The thread waits in asynchronous transfers without a timeout, so an idle device costs
// nothing; closing cancels them and joins the thread before the handle is closed.
#include "LibUsbError.h"
#include "SyncTransfer.h"
#include "USBDevice.h"

#include <syslog.h>

#include <sys/time.h>

#include <algorithm>
#include <chrono>
#include <cstring>

namespace nativesupport {

namespace {
const unsigned char kInEndpoint = 0x81;
const int64_t kMaxRetryPauseMs = 100;

int64_t nowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

bool isStopCode(int result)
{
    return result == LIBUSB_ERROR_IO || result == LIBUSB_ERROR_ACCESS || result == LIBUSB_ERROR_NO_DEVICE ||
           result == LIBUSB_ERROR_PIPE || result == LIBUSB_ERROR_OTHER;
}

void logFailure(int received, int result)
{
    syslog(LOG_DEBUG, "NATIVESUPPORT: libusb_interrupt_transfer failed. Bytes written (%d). Error Code (%s)",
           received, getLibUSBErrorString(result).c_str());
}
}

void USBDevice::startReadThread(libusb_device_handle* handle)
{
    m_inHandle = handle;
    for (int i = 0; i < kInTransfers; i++) {
        InSlot& slot = m_inSlots[i];
        slot = InSlot();
        slot.device = this;
        slot.bit = 1 << i;
        slot.transfer = libusb_alloc_transfer(0);
    }
    m_inStopping = false;
    m_inFailures = 0;
    m_inRetryAtMs = 0;
    m_readThreadRunning = true;
    m_readThreadStarted = pthread_create(&m_readThread, nullptr, &USBDevice::readThreadLoop, this) == 0;
    if (!m_readThreadStarted) {
        m_readThreadRunning = false;
        for (InSlot& slot : m_inSlots) {
            libusb_free_transfer(slot.transfer);
            slot.transfer = nullptr;
        }
    }
}

void USBDevice::stopReadThread()
{
    {
        std::lock_guard<std::mutex> lock(m_inMutex);
        m_readThreadRunning = false;
        for (InSlot& slot : m_inSlots) {
            if (slot.submitted)
                libusb_cancel_transfer(slot.transfer);
        }
    }
    if (m_readThreadStarted) {
        // A thread waiting out a retry pause looks at the flag again at once.
        libusb_interrupt_event_handler(nullptr);
        pthread_join(m_readThread, nullptr);
        m_readThreadStarted = false;
    }
    for (InSlot& slot : m_inSlots) {
        libusb_free_transfer(slot.transfer);
        delete[] slot.buffer;
        slot = InSlot();
    }
    m_inHandle = nullptr;
}

void* USBDevice::readThreadLoop(void* arg)
{
    USBDevice* device = static_cast<USBDevice*>(arg);
    pthread_setname_np(pthread_self(), "ns-usb-read");
    if (device != nullptr)
        device->readLoop();
    syslog(LOG_DEBUG, "NATIVESUPPORT: readThreadLoop has stopped. No IN transactions will be processed.");
    return nullptr;
}

// Whichever thread handles libusb's events runs this, often another device's read thread
// or a control transfer. A report goes into the queue at once, in the order the device
// sent it, so Java can take it while the read thread is still waking; the read thread
// does the rest. Marking the slot done is the callback's last touch of the device: once
// the read thread has seen every mark it may end, and the device may be destroyed.
void LIBUSB_CALL USBDevice::inTransferDone(libusb_transfer* transfer)
{
    InSlot* slot = static_cast<InSlot*>(transfer->user_data);
    USBDevice* device = slot->device;
    if (transfer->status == LIBUSB_TRANSFER_COMPLETED && transfer->actual_length > 0) {
        device->appendReport(slot->buffer);
        slot->queued = true;
    }
    __atomic_fetch_or(&device->m_inCompleted, slot->bit, __ATOMIC_RELEASE);
}

void USBDevice::appendReport(char* report)
{
    pthread_mutex_lock(&m_queueMutex);
    m_reportQueue.push(report);
    m_queuedReports.store(m_reportQueue.size(), std::memory_order_relaxed);
    pthread_mutex_unlock(&m_queueMutex);
}

// The thread keeps every slot's transfer pending and handles each as it completes (a
// failed or cancelled one may come back before older ones). A slot that failed for a
// passing reason waits out a pause and goes again. The thread ends once no transfer is
// pending and none waits to go again: after a close or a stop code.
void USBDevice::readLoop()
{
    {
        std::lock_guard<std::mutex> info(m_infoMutex);
        syslog(LOG_DEBUG, "NATIVESUPPORT: Read thread is starting for device: %s %s", m_productName.c_str(),
               m_firmwareVersion.c_str());
    }
    m_inCompleted = 0;
    for (InSlot& slot : m_inSlots)
        submitIn(slot);
    for (;;) {
        bool active = false;
        for (const InSlot& slot : m_inSlots)
            active = active || slot.submitted || slot.parked;
        if (!active)
            return;
        waitForInEvents();
        const int done = __atomic_exchange_n(&m_inCompleted, 0, __ATOMIC_ACQ_REL);
        for (InSlot& slot : m_inSlots) {
            if (slot.submitted && (done & slot.bit) != 0)
                finishIn(slot);
        }
        retryParkedIn();
    }
}

// Waits until a transfer completes or, with slots parked, until their retry is due.
void USBDevice::waitForInEvents()
{
    bool parked = false;
    for (const InSlot& slot : m_inSlots)
        parked = parked || slot.parked;
    if (!parked) {
        while (!__atomic_load_n(&m_inCompleted, __ATOMIC_ACQUIRE))
            libusb_handle_events_completed(nullptr, &m_inCompleted);
        return;
    }
    const int64_t left = m_inRetryAtMs - nowMs();
    if (left <= 0 || !m_readThreadRunning || m_inStopping)
        return;
    timeval timeout = {static_cast<time_t>(left / 1000), static_cast<suseconds_t>(left % 1000 * 1000)};
    libusb_handle_events_timeout_completed(nullptr, &timeout, &m_inCompleted);
}

// Submits the slot's transfer into a zeroed report buffer, unless the reading ends.
void USBDevice::submitIn(InSlot& slot)
{
    slot.parked = false;
    if (slot.transfer == nullptr)
        return;
    const int length = m_reportLength;
    if (slot.buffer == nullptr)
        slot.buffer = new char[length]();
    else
        std::memset(slot.buffer, 0, static_cast<size_t>(length));
    slot.queued = false;
    int submitted;
    {
        std::lock_guard<std::mutex> lock(m_inMutex);
        if (!m_readThreadRunning || m_inStopping)
            return;
        libusb_fill_interrupt_transfer(slot.transfer, m_inHandle, kInEndpoint,
                                       reinterpret_cast<unsigned char*>(slot.buffer), length, inTransferDone,
                                       &slot, 0);
        submitted = libusb_submit_transfer(slot.transfer);
        slot.submitted = submitted == 0;
    }
    if (submitted != 0)
        failIn(slot, submitted, 0);
}

// Handles the slot's completed transfer and submits it again unless the reading ends or
// the slot has to wait.
void USBDevice::finishIn(InSlot& slot)
{
    libusb_transfer* transfer = slot.transfer;
    {
        std::lock_guard<std::mutex> lock(m_inMutex);
        slot.submitted = false;
    }
    if (slot.queued) {
        slot.buffer = nullptr;   // the queue owns it now
        m_inFailures = 0;
    } else if (transfer->status != LIBUSB_TRANSFER_CANCELLED && !m_inStopping) {
        failIn(slot, resultOf(transfer), transfer->actual_length);
        if (slot.parked || m_inStopping)
            return;
    }
    submitIn(slot);
}

// A failed transfer or submission. A stop code ends the reading; anything else (the usbfs
// memory limit reached, an overflow, an empty report) passes: the slot goes again after a
// pause that doubles with each failure in a row, up to kMaxRetryPauseMs, so that a device
// failing every transfer costs next to nothing and one that recovers is read again.
void USBDevice::failIn(InSlot& slot, int result, int received)
{
    logFailure(received, result);
    if (isStopCode(result)) {
        stopAllIn();
        return;
    }
    m_inFailures = std::min(m_inFailures + 1, 31);
    const int64_t pause = std::min<int64_t>(kMaxRetryPauseMs, int64_t{1} << std::min(m_inFailures - 1, 16));
    m_inRetryAtMs = nowMs() + pause;
    slot.parked = true;
}

void USBDevice::retryParkedIn()
{
    const bool ending = !m_readThreadRunning || m_inStopping;
    if (!ending && nowMs() < m_inRetryAtMs)
        return;
    for (InSlot& slot : m_inSlots) {
        if (!slot.parked)
            continue;
        if (ending)
            slot.parked = false;
        else
            submitIn(slot);
    }
}

// A stop code ends the reading: nothing is submitted again, and the transfers still
// pending are cancelled so that the thread can end.
void USBDevice::stopAllIn()
{
    std::lock_guard<std::mutex> lock(m_inMutex);
    m_inStopping = true;
    for (InSlot& slot : m_inSlots) {
        if (slot.submitted)
            libusb_cancel_transfer(slot.transfer);
    }
}

// The poll of a report; never waits. The length is read while the queue is held and not
// empty: a queued buffer belongs to the session now open, since a close empties the queue
// before an open can set another length. With more reports queued, the next one's bytes
// are fetched into the cache meanwhile: the read thread wrote them on another processor,
// and a backlog is taken one poll after the other.
int USBDevice::read_Device(char* buffer, int length, long)
{
    // A poll of an empty queue, the usual case, takes no lock.
    if (m_queuedReports.load(std::memory_order_relaxed) == 0)
        return 0;
    pthread_mutex_lock(&m_queueMutex);
    if (m_reportQueue.empty()) {
        pthread_mutex_unlock(&m_queueMutex);
        return 0;
    }
    const std::unique_ptr<char[]> report(m_reportQueue.front());
    m_reportQueue.pop();
    m_queuedReports.store(m_reportQueue.size(), std::memory_order_relaxed);
    const int reportLength = m_reportLength;
    if (!m_reportQueue.empty())
        __builtin_prefetch(m_reportQueue.front());
    pthread_mutex_unlock(&m_queueMutex);

    const int copied = std::min(reportLength, length);
    if (copied <= 0)
        return 0;
    std::memcpy(buffer, report.get(), static_cast<size_t>(copied));
    return copied;
}

} // namespace nativesupport
