// Construction, destruction and the accessors of USBDevice.
#include "USBDevice.h"

#include <syslog.h>

#include <algorithm>
#include <cstring>

namespace nativesupport {

USBDevice::USBDevice()
    : m_reportLength(0),
      m_stream(nullptr),
      m_usb_handle(nullptr),
      m_vid(0),
      m_pid(0),
      m_maxX(0),
      m_maxY(0),
      m_minX(0),
      m_minY(0),
      m_maxPressure(0),
      m_iSerialNumber(0),
      m_iManufacturer(0),
      m_iProduct(0),
      m_iInterface(0),
      m_outReportLength(0)
{
}

USBDevice::~USBDevice()
{
    // Whoever deletes a device closes it first, which stops its reading; this is the last
    // safety net for an object deleted while still open.
    close_Device();
    clearQueue();
}

// The poll of a report; never waits. The stream is replaced only while no call holds the
// device (closing runs when it is destroyed, or in an open that failed before it made one).
int USBDevice::read_Device(char* buffer, int length, long)
{
    ReportStream* stream = m_stream.load(std::memory_order_acquire);
    if (stream == nullptr || length <= 0)
        return 0;
    if (length >= stream->reportLength())
        return stream->take(reinterpret_cast<unsigned char*>(buffer));
    unsigned char report[kMaxReportLength];
    const int taken = stream->take(report);
    const int copied = std::min(taken, length);
    std::memcpy(buffer, report, static_cast<size_t>(copied));
    return copied;
}

std::string USBDevice::GetSerialNumber() const
{
    std::lock_guard<std::mutex> lock(m_infoMutex);
    return m_serialNumber;
}

std::string USBDevice::GetFirmwareVersion() const
{
    std::lock_guard<std::mutex> lock(m_infoMutex);
    return m_firmwareVersion;
}

std::string USBDevice::GetProductName() const
{
    std::lock_guard<std::mutex> lock(m_infoMutex);
    return m_productName;
}

void USBDevice::setString(std::string& field, const std::string& value)
{
    std::lock_guard<std::mutex> lock(m_infoMutex);
    field = value;
}

// The open-device check of every request that goes to the device: logs `nullLine`, or
// `goneLine` with the handle, when there is nothing to send to.
bool USBDevice::isDeviceGone(libusb_device_handle* handle, const char* nullLine, const char* goneLine)
{
    if (handle == nullptr) {
        syslog(LOG_DEBUG, "%s", nullLine);
        return true;
    }
    if (libusb_get_device(handle) == nullptr) {
        syslog(LOG_DEBUG, goneLine, static_cast<int>(reinterpret_cast<intptr_t>(handle)));
        return true;
    }
    return false;
}

int USBDevice::get_Out_Endpoint() const
{
    const uint16_t pid = static_cast<uint16_t>(m_pid);
    if (static_cast<uint16_t>(m_vid) == 0x078c && pid >= 0x0700 && pid <= 0x0702)
        return 2;
    return 1;
}

} // namespace nativesupport
