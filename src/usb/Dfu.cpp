// The DFU 1.1 class requests that carry a firmware update. The library is only the
// transport: it keeps no DFU state and passes the device's answers on unchanged.
#include "SyncTransfer.h"
#include "USBDevice.h"

#include <syslog.h>

#include <cstring>
#include <vector>

namespace nativesupport {

namespace {
const uint8_t kHostToInterface = 0x21;
const uint8_t kInterfaceToHost = 0xA1;
const uint8_t kDetach = 0;
const uint8_t kDownload = 1;
const uint8_t kGetStatus = 3;
const uint8_t kClearStatus = 4;
const uint8_t kGetState = 5;
const uint8_t kAbort = 6;
const unsigned int kDfuTimeout = 200;
}

bool USBDevice::dfuSimpleRequest(uint8_t request, const char* nullLine, const char* goneLine,
                                 const char* failedLine, const char* succeededLine)
{
    std::shared_lock<std::shared_mutex> stateLock(m_stateLock);
    if (isDeviceGone(m_usb_handle, nullLine, goneLine))
        return false;
    const int r = controlTransfer(m_usb_handle, kHostToInterface, request, 0, 0, nullptr, 0, kDfuTimeout);
    syslog(LOG_DEBUG, "%s", r >= 0 ? succeededLine : failedLine);
    return r >= 0;
}

bool USBDevice::dfuDetach()
{
    return dfuSimpleRequest(kDetach, "NATIVESUPPORT: DFU Detach Failed. m_usb_handle was NULL.",
                            "NATIVESUPPORT: DFU Detach failed.  Device no longer exists for m_usb_handle: %d",
                            "NATIVESUPPORT: DFU Detach Failed.", "NATIVESUPPORT: DFU Detach Succeeded.");
}

bool USBDevice::dfuClearStatus()
{
    return dfuSimpleRequest(kClearStatus, "NATIVESUPPORT: DFU ClearStatus Failed. m_usb_handle was NULL.",
                            "NATIVESUPPORT: DFU ClearStatus failed.  Device no longer exists for m_usb_handle: %d",
                            "NATIVESUPPORT: DFU ClearStatus Failed.", "NATIVESUPPORT: DFU ClearStatus Succeeded.");
}

bool USBDevice::dfuAbort()
{
    return dfuSimpleRequest(kAbort, "NATIVESUPPORT: DFU Abort Failed. m_usb_handle was NULL.",
                            "NATIVESUPPORT: DFU Abort failed.  Device no longer exists for m_usb_handle: %d",
                            "NATIVESUPPORT: DFU Abort Failed.", "NATIVESUPPORT: DFU Abort Succeeded.");
}

bool USBDevice::dfuDownload(int blockNumber, char* data, int length)
{
    std::vector<unsigned char> block(static_cast<size_t>(length > 0 ? length : 0), 0);
    if (length > 0 && data != nullptr)
        std::memcpy(block.data(), data, static_cast<size_t>(length));
    // wLength: the length as a 16-bit value, and never more than the block holds (a
    // negative length sends none).
    const uint16_t wLength = static_cast<uint16_t>(block.size());
    std::shared_lock<std::shared_mutex> stateLock(m_stateLock);
    if (isDeviceGone(m_usb_handle, "NATIVESUPPORT: DFU Download Failed. m_usb_handle was NULL.",
                     "NATIVESUPPORT: DFU Download failed.  Device no longer exists for m_usb_handle: %d"))
        return false;
    const int r = controlTransfer(m_usb_handle, kHostToInterface, kDownload,
                                          static_cast<uint16_t>(blockNumber), 0, block.data(), wLength,
                                          kDfuTimeout);
    const bool ok = r > 0 || (r == 0 && length == 0);
    if (ok)
        syslog(LOG_DEBUG, "NATIVESUPPORT: DFU Download Succeeded.  Bytes written (%d)", r);
    else
        syslog(LOG_DEBUG, "NATIVESUPPORT: DFU Download Failed.");
    return ok;
}

int USBDevice::dfuGetStatus(char* status)
{
    std::shared_lock<std::shared_mutex> stateLock(m_stateLock);
    if (isDeviceGone(m_usb_handle, "NATIVESUPPORT: DFU GetStatus Failed. m_usb_handle was NULL.",
                     "NATIVESUPPORT: DFU GetStatus failed.  Device no longer exists for m_usb_handle: %d"))
        return 0;
    unsigned char record[6] = {0, 0, 0, 0, 0, 0};
    const int r = controlTransfer(m_usb_handle, kInterfaceToHost, kGetStatus, 0, 0, record, 6, kDfuTimeout);
    if (r > 5) {
        std::memcpy(status, record, 6);
        syslog(LOG_DEBUG, "NATIVESUPPORT: DFU GetStatus Succeeded.  Bytes received (%d)", r);
        return r;
    }
    syslog(LOG_DEBUG, "NATIVESUPPORT: DFU GetStatus Failed.");
    return 0;
}

int USBDevice::dfuGetState(char* state)
{
    std::shared_lock<std::shared_mutex> stateLock(m_stateLock);
    if (isDeviceGone(m_usb_handle, "NATIVESUPPORT: DFU GetState Failed. m_usb_handle was NULL.",
                     "NATIVESUPPORT: DFU GetState failed.  Device no longer exists for m_usb_handle: %d"))
        return 0;
    unsigned char value = 0;
    const int r = controlTransfer(m_usb_handle, kInterfaceToHost, kGetState, 0, 0, &value, 1, kDfuTimeout);
    if (r >= 1) {
        *state = static_cast<char>(value);
        syslog(LOG_DEBUG, "NATIVESUPPORT: DFU GetState Succeeded.  Bytes received (%d)", r);
        return r;
    }
    syslog(LOG_DEBUG, "NATIVESUPPORT: DFU GetState Failed.");
    return 0;
}

} // namespace nativesupport
