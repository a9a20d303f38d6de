// HID class requests on the default control pipe.
#include "SyncTransfer.h"
#include "USBDevice.h"

#include <syslog.h>

#include <cstring>
#include <vector>

namespace nativesupport {

namespace {
const uint8_t kHostToInterface = 0x21;
const uint8_t kInterfaceToHost = 0xA1;
const uint8_t kGetReport = 1;
const uint8_t kSetReport = 9;
const uint16_t kOutputReport0 = 0x0200;
const uint16_t kFeatureReport2 = 0x0302;
const unsigned int kControlTimeout = 200;
}

bool USBDevice::writeToControlTransfer(char* data, int size)
{
    syslog(LOG_DEBUG, "NATIVESUPPORT: Getting ready to perform a control transfer. Size: (%d)", size);
    const int reportLength = m_reportLength;
    if (size > reportLength || size < 0)
        return false;
    std::vector<unsigned char> report(static_cast<size_t>(reportLength), 0);
    if (size > 0 && data != nullptr)
        std::memcpy(report.data(), data, static_cast<size_t>(size));

    std::shared_lock<std::shared_mutex> stateLock(m_stateLock);
    if (isDeviceGone(m_usb_handle, "NATIVESUPPORT: Control Transfer Failed.  m_usb_handle was NULL.",
                     "NATIVESUPPORT: write_Device failed.  Device no longer exists for m_usb_handle %d"))
        return false;
    const int r = controlTransfer(m_usb_handle, kHostToInterface, kSetReport, kOutputReport0, 0, report.data(),
                                  static_cast<uint16_t>(reportLength), kControlTimeout);
    if (r > 0) {
        syslog(LOG_DEBUG, "NATIVESUPPORT: Control Transfer Succeeded.  Bytes written (%d).", r);
        return true;
    }
    syslog(LOG_DEBUG, "NATIVESUPPORT: Control Transfer Failed.");
    return false;
}

int USBDevice::get_HIDReport(char* buffer, int length, long timeout)
{
    std::shared_lock<std::shared_mutex> stateLock(m_stateLock);
    if (m_usb_handle == nullptr)
        return LIBUSB_ERROR_NO_DEVICE;
    return controlTransfer(m_usb_handle, kInterfaceToHost, kGetReport, kFeatureReport2, 0,
                           reinterpret_cast<unsigned char*>(buffer), static_cast<uint16_t>(length),
                           static_cast<unsigned int>(timeout));
}

int USBDevice::set_HIDReport(char* buffer, int length, long timeout)
{
    std::shared_lock<std::shared_mutex> stateLock(m_stateLock);
    if (m_usb_handle == nullptr)
        return LIBUSB_ERROR_NO_DEVICE;
    return controlTransfer(m_usb_handle, kHostToInterface, kSetReport, kFeatureReport2, 0,
                           reinterpret_cast<unsigned char*>(buffer), static_cast<uint16_t>(length),
                           static_cast<unsigned int>(timeout));
}

} // namespace nativesupport
