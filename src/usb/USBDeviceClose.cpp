// Closing a device: stop the read thread, drop queued reports, release and close.
#include "USBDevice.h"

#include <syslog.h>

#include <cstdint>

void USBDevice::close_Device()
{
    std::unique_lock<std::shared_mutex> lock(m_stateLock);
    closeDeviceLocked();
}

void USBDevice::closeDeviceLocked()
{
    if (m_usb_handle == nullptr)
        return;
    const int handleValue = static_cast<int>(reinterpret_cast<intptr_t>(m_usb_handle));
    syslog(LOG_DEBUG, "NATIVESUPPORT: close_Device on handle %d", handleValue);
    stopReadThread();
    syslog(LOG_DEBUG, "NATIVESUPPORT: close_Device: About to clear input report queue for handle %d", handleValue);
    clearQueue();
    syslog(LOG_DEBUG, "NATIVESUPPORT: close_Device: About to release interface and close for handle %d",
           handleValue);
    libusb_release_interface(m_usb_handle, 0);
    libusb_close(m_usb_handle);
    m_usb_handle = nullptr;
    dropDefaultContext();
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
