// Opening a device named by a device path string.
#include "Discovery.h"
#include "LibUsbError.h"
#include "Refusal.h"
#include "USBDevice.h"

#include <syslog.h>
#include <unistd.h>

namespace nativesupport {

namespace {
const char kProductMarker[] = "VORNIQUE";
// A device in firmware update mode needs no input report length for its requests; it gets
// the length its usual product id gets.
const int32_t kDfuReportLength = 64;

bool isDfuMode(uint16_t vid, uint16_t pid)
{
    return vid == 0x0483 || pid == 0xdf11;
}

// The first listed device of a supported vendor whose path string occurs in `devicePath`.
libusb_device* findDevice(const DeviceList& devices, const std::string& devicePath, std::string* foundPath)
{
    return findSupportedDevice(devices,
                               "NATIVESUPPORT: Unable to retrieve device descriptor so we cannot validate a device "
                               "match.  Moving on to next device.",
                               [&](libusb_device* device, const libusb_device_descriptor& descriptor) {
                                   *foundPath = formatDevicePath(device, descriptor);
                                   return devicePath.find(*foundPath) != std::string::npos;
                               });
}

// Interface 0, alternate setting 0 of a configuration, if it has one.
const libusb_interface_descriptor* firstSetting(const libusb_config_descriptor* config)
{
    if (config->bNumInterfaces == 0 || config->interface[0].num_altsetting == 0)
        return nullptr;
    return &config->interface[0].altsetting[0];
}
}

bool USBDevice::open_Device(std::string devicePath)
{
    const bool opened = openDevice(devicePath);
    sleep(1);   // every connect, successful or not, ends with this pause
    return opened;
}

// Runs the whole open while no close or other open runs on this object. The device list is
// released, and a device that did not open is closed, before the context reference that
// covers them can end.
bool USBDevice::openDevice(const std::string& devicePath)
{
    std::lock_guard<std::mutex> lifecycle(m_openMutex);
    auto context = std::make_unique<LibUsbContext>(LibUsbContext::Default);
    if (!*context)
        return false;
    libusb_device_handle* handle = nullptr;
    libusb_device* device = nullptr;
    {
        DeviceList devices(*context);
        if (!devices.ok())
            return false;
        syslog(LOG_INFO, "NATIVESUPPORT: open_Device() Looking For : %s", devicePath.c_str());
        std::string foundPath;
        device = findDevice(devices, devicePath, &foundPath);
        if (device == nullptr)
            return false;
        syslog(LOG_INFO, "NATIVESUPPORT: open_Device() Found : %s", foundPath.c_str());

        libusb_device_descriptor descriptor;
        const int r = libusb_get_device_descriptor(device, &descriptor);
        if (r != 0) {
            syslog(LOG_DEBUG, "NATIVESUPPORT: Unable to retrieve device descriptor.  Device will not be opened. "
                              "Error Code (%s).", getLibUSBErrorString(r).c_str());
            return false;
        }
        m_vid = static_cast<int16_t>(descriptor.idVendor);
        m_pid = static_cast<int16_t>(descriptor.idProduct);
        m_iSerialNumber = descriptor.iSerialNumber;
        m_iManufacturer = descriptor.iManufacturer;
        m_iProduct = descriptor.iProduct;

        if (m_usb_handle != nullptr) {
            syslog(LOG_DEBUG, "NATIVESUPPORT: m_usb_handle is not NULL.  Device is already open.");
            return false;
        }
        const int opened = libusb_open(device, &handle);
        if (opened != 0) {
            syslog(LOG_DEBUG, "NATIVESUPPORT: libusb_open failed with error code %s",
                   getLibUSBErrorString(opened).c_str());
            explainRefusal(device, opened);
            return false;
        }
        device = libusb_get_device(handle);   // the handle keeps its own reference
    }

    const uint16_t vid = static_cast<uint16_t>(m_vid);
    const uint16_t pid = static_cast<uint16_t>(m_pid);
    const bool dfuMode = isDfuMode(vid, pid);
    libusb_config_descriptor* config = nullptr;
    const int r = libusb_get_active_config_descriptor(device, &config);
    if (r != 0) {
        syslog(LOG_DEBUG, "NATIVESUPPORT: Unable to retrieve active configuration descriptor.  Device will not be "
                          "opened. Error Code (%s).", getLibUSBErrorString(r).c_str());
        closeHandle(handle);
        return false;
    }
    const libusb_interface_descriptor* setting = firstSetting(config);
    const bool hasEndpoint = setting != nullptr && setting->bNumEndpoints > 0;
    if (setting != nullptr)
        m_iInterface = setting->iInterface;
    if (pid == 0xdf11 || (dfuMode && !hasEndpoint))
        m_reportLength = kDfuReportLength;
    else if (hasEndpoint)
        m_reportLength = setting->endpoint[0].wMaxPacketSize & kMaxReportLength;   // bits 11-12 count transactions
    m_outReportLength = pid == 0x040a ? 9 : static_cast<int32_t>(m_reportLength);
    libusb_free_config_descriptor(config);
    if (!dfuMode && (!hasEndpoint || m_reportLength <= 0)) {
        syslog(LOG_DEBUG, "NATIVESUPPORT: Interface 0 has no endpoint to read reports from.  Closing device.");
        closeHandle(handle);
        return false;
    }

    if (libusb_kernel_driver_active(handle, 0) == 1 && libusb_detach_kernel_driver(handle, 0) != 0) {
        syslog(LOG_DEBUG, "NATIVESUPPORT: Failed to detach active Kernel Driver.");
        closeHandle(handle);
        return false;
    }
    const int claimed = libusb_claim_interface(handle, 0);
    if (claimed != 0) {
        syslog(LOG_DEBUG, "NATIVESUPPORT: Unable to claim interface. Closing device.");
        explainRefusal(device, claimed);
        closeHandle(handle);
        return false;
    }

    get_Device_Info(handle);
    // A device unplugged meanwhile is not handed out: every request on it now fails so.
    if (libusb_kernel_driver_active(handle, 0) == LIBUSB_ERROR_NO_DEVICE) {
        syslog(LOG_DEBUG, "NATIVESUPPORT: The device was unplugged while it was opened.  Closing device.");
        closeHandle(handle);
        return false;
    }

    if (dfuMode) {
        std::unique_lock<std::mutex> info(m_infoMutex);
        const bool ours = m_manufacturer.find(kProductMarker) != std::string::npos;
        info.unlock();
        if (!ours) {
            closeHandle(handle);
            syslog(LOG_DEBUG, "NATIVESUPPORT: DFU Device isn't ours.  Closing device.");
            return false;
        }
    }
    m_context = std::move(context);
    publishHandle(handle);
    if (!dfuMode)
        startReading(handle);
    return true;
}

void USBDevice::publishHandle(libusb_device_handle* handle)
{
    std::unique_lock<std::shared_mutex> state(m_stateLock);
    m_usb_handle = handle;
}

} // namespace nativesupport
