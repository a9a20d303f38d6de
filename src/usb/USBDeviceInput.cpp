// The input path: one read thread per open device keeps an interrupt IN transfer
// pending and queues each report; Java takes them one at a time with read_Device.
//
// The thread waits in an asynchronous transfer without a timeout, so an idle device
// costs nothing; closing cancels that transfer and joins the thread before the handle
// is closed.
#include "LibUsbError.h"
#include "USBDevice.h"

#include <syslog.h>

#include <algorithm>
#include <cstring>

namespace {
const unsigned char kInEndpoint = 0x81;

// Whichever thread handles libusb's events runs this, often another device's read thread
// or a control transfer; the flag's owner reads it meanwhile, so both sides use atomics.
void LIBUSB_CALL inTransferDone(libusb_transfer* transfer)
{
    __atomic_store_n(static_cast<int*>(transfer->user_data), 1, __ATOMIC_RELEASE);
}

// The result a synchronous libusb_interrupt_transfer would have given.
int resultOf(const libusb_transfer* transfer)
{
    switch (transfer->status) {
    case LIBUSB_TRANSFER_COMPLETED: return 0;
    case LIBUSB_TRANSFER_TIMED_OUT: return LIBUSB_ERROR_TIMEOUT;
    case LIBUSB_TRANSFER_STALL: return LIBUSB_ERROR_PIPE;
    case LIBUSB_TRANSFER_NO_DEVICE: return LIBUSB_ERROR_NO_DEVICE;
    case LIBUSB_TRANSFER_OVERFLOW: return LIBUSB_ERROR_OVERFLOW;
    default: return LIBUSB_ERROR_IO;
    }
}

bool isStopCode(int result)
{
    return result == LIBUSB_ERROR_IO || result == LIBUSB_ERROR_ACCESS || result == LIBUSB_ERROR_NO_DEVICE ||
           result == LIBUSB_ERROR_PIPE || result == LIBUSB_ERROR_OTHER;
}
}

void USBDevice::startReadThread()
{
    m_inTransfer = libusb_alloc_transfer(0);
    m_readThreadRunning = true;
    m_readThreadStarted = pthread_create(&m_readThread, nullptr, &USBDevice::readThreadLoop, this) == 0;
    if (!m_readThreadStarted) {
        m_readThreadRunning = false;
        libusb_free_transfer(m_inTransfer);
        m_inTransfer = nullptr;
    }
}

void USBDevice::stopReadThread()
{
    {
        std::lock_guard<std::mutex> lock(m_inMutex);
        m_readThreadRunning = false;
        if (m_inSubmitted)
            libusb_cancel_transfer(m_inTransfer);
    }
    if (m_readThreadStarted) {
        pthread_join(m_readThread, nullptr);
        m_readThreadStarted = false;
    }
    libusb_free_transfer(m_inTransfer);
    m_inTransfer = nullptr;
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

void USBDevice::readLoop()
{
    syslog(LOG_DEBUG, "NATIVESUPPORT: Read thread is starting for device: %s %s", m_productName.c_str(),
           m_firmwareVersion.c_str());
    int result = 0;
    for (;;) {
        const int length = m_reportLength;
        char* buffer = new char[length]();
        int received = 0;
        if (m_usb_handle != nullptr) {
            const int passResult = readOnePass(buffer, &received);
            if (passResult == LIBUSB_ERROR_INTERRUPTED && !m_readThreadRunning) {
                delete[] buffer;   // cancelled by close_Device
                return;
            }
            result = passResult;
        }
        if (result == 0 && received > 0) {
            pthread_mutex_lock(&m_queueMutex);
            m_reportQueue.push(buffer);
            pthread_mutex_unlock(&m_queueMutex);
            if (!m_readThreadRunning)
                return;
            continue;
        }
        syslog(LOG_DEBUG, "NATIVESUPPORT: libusb_interrupt_transfer failed. Bytes written (%d). Error Code (%s)",
               received, getLibUSBErrorString(result).c_str());
        delete[] buffer;
        if (isStopCode(result) || !m_readThreadRunning)
            return;
    }
}

// One interrupt IN transfer into `buffer`. LIBUSB_ERROR_INTERRUPTED means it was
// cancelled, or never submitted, because the device is closing.
int USBDevice::readOnePass(char* buffer, int* received)
{
    int completed = 0;
    {
        std::lock_guard<std::mutex> lock(m_inMutex);
        if (!m_readThreadRunning)
            return LIBUSB_ERROR_INTERRUPTED;
        libusb_fill_interrupt_transfer(m_inTransfer, m_usb_handle, kInEndpoint,
                                       reinterpret_cast<unsigned char*>(buffer), m_reportLength, inTransferDone,
                                       &completed, 0);
        const int submitted = libusb_submit_transfer(m_inTransfer);
        if (submitted != 0)
            return submitted;
        m_inSubmitted = true;
    }
    while (!__atomic_load_n(&completed, __ATOMIC_ACQUIRE))
        libusb_handle_events_completed(nullptr, &completed);
    std::lock_guard<std::mutex> lock(m_inMutex);
    m_inSubmitted = false;
    *received = m_inTransfer->actual_length;
    if (m_inTransfer->status == LIBUSB_TRANSFER_CANCELLED)
        return LIBUSB_ERROR_INTERRUPTED;
    return resultOf(m_inTransfer);
}

int USBDevice::read_Device(char* buffer, int length, long timeout)
{
    pthread_mutex_lock(&m_queueMutex);
    if (m_reportQueue.empty()) {
        pthread_mutex_unlock(&m_queueMutex);
        return 0;
    }
    char* report = m_reportQueue.front();
    m_reportQueue.pop();
    pthread_mutex_unlock(&m_queueMutex);

    const int reportLength = m_reportLength;
    std::memcpy(buffer, report, static_cast<size_t>(std::min(reportLength, length)));
    delete[] report;
    return reportLength;
}
