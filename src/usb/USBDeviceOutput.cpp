// The output path: commands go to the device as one interrupt OUT transfer of
// m_outReportLength bytes.
#include "LibUsbError.h"
#include "SyncTransfer.h"
#include "USBDevice.h"

#include <syslog.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace nativesupport {

bool USBDevice::write_Device(char* data, int length, long timeout)
{
    if (length > m_reportLength)
        return false;
    const int outLength = std::max<int32_t>(m_outReportLength, 0);
    std::vector<unsigned char> out(static_cast<size_t>(outLength), 0);
    const int copied = std::min(std::max(length, 0), outLength);
    if (copied > 0 && data != nullptr)
        std::memcpy(out.data(), data, static_cast<size_t>(copied));

    std::shared_lock<std::shared_mutex> stateLock(m_stateLock);
    if (isDeviceGone(m_usb_handle, "NATIVESUPPORT: write_Device failed.  m_usb_handle was NULL.",
                     "NATIVESUPPORT: write_Device failed.  Device no longer exists for m_usb_handle %d"))
        return false;
    const unsigned char endpoint = static_cast<unsigned char>(get_Out_Endpoint());
    int sent = 0;
    const int r = interruptTransfer(m_usb_handle, endpoint, out.data(), outLength, &sent,
                                    static_cast<unsigned int>(timeout));
    if (r == 0 && sent == outLength) {
        syslog(LOG_DEBUG, "NATIVESUPPORT: write_Device Succeeded.  Bytes written (%d).", outLength);
        return true;
    }
    syslog(LOG_DEBUG, "NATIVESUPPORT: write_Device failed.  Bytes written (%d). Error Code (%s).", sent,
           getLibUSBErrorString(r).c_str());
    return false;
}

} // namespace nativesupport
