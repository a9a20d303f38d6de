// Closing a device: stop the read thread, drop queued reports, release and close.
#include "USBDevice.h"

#include <syslog.h>

#include <cstdint>

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
    stopReadThread();
    syslog(LOG_DEBUG, "NATIVESUPPORT: close_Device: About to clear input report queue for handle %d", handleValue);
    clearQueue();
    syslog(LOG_DEBUG, "NATIVESUPPORT: close_Device: About to release interface and close for handle %d",
           handleValue);
    libusb_release_interface(handle, 0);
    libusb_close(handle);
}

void USBDevice::clearQueue()
{
    pthread_mutex_lock(&m_queueMutex);
    while (!m_reportQueue.empty()) {
        delete[] m_reportQueue.front();
        m_reportQueue.pop();
    }
    m_queuedReports.store(0, std::memory_order_relaxed);
    pthread_mutex_unlock(&m_queueMutex);
}

} // namespace nativesupport
