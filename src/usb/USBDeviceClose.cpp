// Closing a device: stop the reading, drop queued reports, release and close; and the start
// of the reading, which closing undoes.
#include "HandleRegistry.h"
#include "USBDevice.h"

#include <syslog.h>

#include <cstdint>
#include <new>

namespace nativesupport {

void USBDevice::close_Device()
{
    std::lock_guard<std::mutex> lifecycle(m_openMutex);
    if (m_usb_handle == nullptr)
        return;
    libusb_device_handle* handle = m_usb_handle;
    {
        // Transfers under way on other threads end first; later ones find no handle.
        std::unique_lock<std::shared_mutex> state(m_stateLock);
        m_usb_handle = nullptr;
    }
    closeHandle(handle);
    m_context.reset();   // after the handle: nothing taken from the context outlives it
}

// Stops the reading and closes a handle, published or still being opened.
void USBDevice::closeHandle(libusb_device_handle* handle)
{
    const int handleValue = static_cast<int>(reinterpret_cast<intptr_t>(handle));
    syslog(LOG_DEBUG, "NATIVESUPPORT: close_Device on handle %d", handleValue);
    stopReading();
    syslog(LOG_DEBUG, "NATIVESUPPORT: close_Device: About to clear input report queue for handle %d", handleValue);
    clearQueue();
    syslog(LOG_DEBUG, "NATIVESUPPORT: close_Device: About to release interface and close for handle %d",
           handleValue);
    libusb_release_interface(handle, 0);
    libusb_close(handle);
}

// The stream goes with the reports it still holds, all at once.
void USBDevice::clearQueue()
{
    delete m_stream.exchange(nullptr, std::memory_order_acq_rel);
}

void USBDevice::startReading(libusb_device_handle* handle)
{
    const int32_t length = m_reportLength;
    const int logHandle = handleLogValue(handleFromPointer(this));
    auto* stream = new (std::nothrow) ReportStream(length, logHandle);
    if (stream == nullptr) {
        ReportStream::logNotStarted(logHandle);
        return;
    }
    std::string product;
    std::string firmware;
    {
        std::lock_guard<std::mutex> info(m_infoMutex);
        product = m_productName;
        firmware = m_firmwareVersion;
    }
    stream->start(handle, product, firmware);
    m_stream.store(stream, std::memory_order_release);
}

// Waits until none of the stream's transfers is pending; its reports stay until clearQueue.
void USBDevice::stopReading()
{
    if (ReportStream* stream = m_stream.load(std::memory_order_acquire))
        stream->stop();
}

} // namespace nativesupport
