// Opening a device named by a device path string.
#include "Discovery.h"
#include "LibUsbError.h"
#include "USBDevice.h"

#include <syslog.h>
#include <unistd.h>

namespace {
const char kProductMarker[] = "VORNIQUE";

// The attached devices of the default context, released (and the one-second pause that
// ends every open taken) when opening returns.
class OpenAttempt {
public:
    OpenAttempt() : m_list(nullptr), m_count(libusb_get_device_list(nullptr, &m_list)) {}
    ~OpenAttempt()
    {
        if (m_count >= 0)
            libusb_free_device_list(m_list, 1);
        sleep(1);
    }
    OpenAttempt(const OpenAttempt&) = delete;
    OpenAttempt& operator=(const OpenAttempt&) = delete;

    ssize_t count() const { return m_count; }
    libusb_device* operator[](ssize_t i) const { return m_list[i]; }

private:
    libusb_device** m_list;
    ssize_t m_count;
};

bool isDfuMode(uint16_t vid, uint16_t pid)
{
    return vid == 0x0483 || pid == 0xdf11;
}

// The first listed device of a supported vendor whose path string occurs in `devicePath`.
libusb_device* findDevice(const OpenAttempt& devices, const std::string& devicePath, std::string* foundPath)
{
    for (ssize_t i = 0; i < devices.count(); ++i) {
        libusb_device_descriptor descriptor;
        if (libusb_get_device_descriptor(devices[i], &descriptor) != 0) {
            syslog(LOG_INFO, "NATIVESUPPORT: Unable to retrieve device descriptor so we cannot validate a device "
                             "match.  Moving on to next device.");
            continue;
        }
        syslog(LOG_INFO, "NATIVESUPPORT: Found VID: %04x", descriptor.idVendor);
        if (!isSupportedVendor(descriptor.idVendor))
            continue;
        std::string path = formatDevicePath(devices[i], descriptor);
        if (devicePath.find(path) != std::string::npos) {
            *foundPath = path;
            return devices[i];
        }
    }
    return nullptr;
}
}

// Every open device keeps a reference on libusb's default context, so a device can be
// connected before Java subscribes and stays usable until it is closed.
void USBDevice::holdDefaultContext()
{
    if (!m_holdsDefaultContext)
        m_holdsDefaultContext = libusb_init(nullptr) == 0;
}

void USBDevice::dropDefaultContext()
{
    if (m_holdsDefaultContext) {
        m_holdsDefaultContext = false;
        libusb_exit(nullptr);
    }
}

bool USBDevice::open_Device(std::string devicePath)
{
    std::unique_lock<std::shared_mutex> lock(m_stateLock);
    const bool opened = openDeviceLocked(devicePath);
    if (m_usb_handle == nullptr)
        dropDefaultContext();
    return opened;
}

bool USBDevice::openDeviceLocked(const std::string& devicePath)
{
    holdDefaultContext();
    if (!m_holdsDefaultContext) {
        sleep(1);
        return false;
    }
    OpenAttempt devices;
    if (devices.count() < 0)
        return false;
    syslog(LOG_INFO, "NATIVESUPPORT: open_Device() Looking For : %s", devicePath.c_str());
    std::string foundPath;
    libusb_device* device = findDevice(devices, devicePath, &foundPath);
    if (device == nullptr)
        return false;
    syslog(LOG_INFO, "NATIVESUPPORT: open_Device() Found : %s", foundPath.c_str());

    libusb_device_descriptor descriptor;
    int r = libusb_get_device_descriptor(device, &descriptor);
    if (r != 0) {
        syslog(LOG_DEBUG, "NATIVESUPPORT: Unable to retrieve device descriptor.  Device will not be opened. Error "
                          "Code (%s).", getLibUSBErrorString(r).c_str());
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
    r = libusb_open(device, &m_usb_handle);
    if (r != 0) {
        m_usb_handle = nullptr;
        syslog(LOG_DEBUG, "NATIVESUPPORT: libusb_open failed with error code %s", getLibUSBErrorString(r).c_str());
        return false;
    }

    libusb_config_descriptor* config = nullptr;
    r = libusb_get_active_config_descriptor(device, &config);
    if (r != 0) {
        syslog(LOG_DEBUG, "NATIVESUPPORT: Unable to retrieve active configuration descriptor.  Device will not be "
                          "opened. Error Code (%s).", getLibUSBErrorString(r).c_str());
        closeDeviceLocked();
        return false;
    }
    const uint16_t pid = static_cast<uint16_t>(m_pid);
    const libusb_interface_descriptor* alt0 =
        config->bNumInterfaces > 0 && config->interface[0].num_altsetting > 0 ? &config->interface[0].altsetting[0]
                                                                              : nullptr;
    const bool hasEndpoint = alt0 != nullptr && alt0->bNumEndpoints > 0;
    if (alt0 != nullptr)
        m_iInterface = alt0->iInterface;
    if (pid == 0xdf11)
        m_reportLength = 64;
    else if (hasEndpoint)
        m_reportLength = alt0->endpoint[0].wMaxPacketSize;
    m_outReportLength = pid == 0x040a ? 9 : static_cast<int32_t>(m_reportLength);
    libusb_free_config_descriptor(config);
    if (pid != 0xdf11 && (!hasEndpoint || m_reportLength <= 0)) {
        syslog(LOG_DEBUG, "NATIVESUPPORT: Interface 0 has no endpoint to read reports from.  Closing device.");
        closeDeviceLocked();
        return false;
    }

    if (libusb_kernel_driver_active(m_usb_handle, 0) == 1 && libusb_detach_kernel_driver(m_usb_handle, 0) != 0) {
        syslog(LOG_DEBUG, "NATIVESUPPORT: Failed to detach active Kernel Driver.");
        closeDeviceLocked();
        return false;
    }
    if (libusb_claim_interface(m_usb_handle, 0) != 0) {
        syslog(LOG_DEBUG, "NATIVESUPPORT: Unable to claim interface. Closing device.");
        closeDeviceLocked();
        return false;
    }

    get_Device_Info();

    if (isDfuMode(static_cast<uint16_t>(m_vid), pid)) {
        if (m_manufacturer.find(kProductMarker) != std::string::npos)
            return true;
        closeDeviceLocked();
        syslog(LOG_DEBUG, "NATIVESUPPORT: DFU Device isn't ours.  Closing device.");
        return false;
    }
    startReadThread();
    return true;
}
