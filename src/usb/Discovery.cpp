// Enumeration of supported devices and the lookups by device path string. Every call
// works in a private libusb context of its own.
#include "Discovery.h"

#include <syslog.h>

#include <algorithm>
#include <cstdio>

namespace nativesupport {

const uint16_t supportedVendorIds[5] = {0x078c, 0x0483, 0x08ca, 0x5543, 0x172f};

bool isSupportedVendor(uint16_t vendorId)
{
    return std::find(std::begin(supportedVendorIds), std::end(supportedVendorIds), vendorId) !=
           std::end(supportedVendorIds);
}

std::string formatDevicePath(libusb_device* device, const libusb_device_descriptor& descriptor)
{
    char path[32];
    snprintf(path, sizeof path, "%03i/%03i-%04x-%04x-%02x-%02x", libusb_get_bus_number(device),
             libusb_get_device_address(device), descriptor.idVendor, descriptor.idProduct,
             descriptor.bDeviceClass, descriptor.bDeviceSubClass);
    return path;
}

libusb_device* findSupportedDevice(const DeviceList& devices, const char* unreadableLine,
                                   const SupportedDeviceVisitor& visit)
{
    for (ssize_t i = 0; i < devices.count(); ++i) {
        libusb_device_descriptor descriptor;
        if (libusb_get_device_descriptor(devices[i], &descriptor) != 0) {
            syslog(LOG_INFO, "%s", unreadableLine);
            continue;
        }
        syslog(LOG_INFO, "NATIVESUPPORT: Found VID: %04x", descriptor.idVendor);
        if (isSupportedVendor(descriptor.idVendor) && visit(devices[i], descriptor))
            return devices[i];
    }
    return nullptr;
}

namespace {
std::string busAddressPrefix(libusb_device* device)
{
    char prefix[16];
    snprintf(prefix, sizeof prefix, "%03i/%03i", libusb_get_bus_number(device), libusb_get_device_address(device));
    return prefix;
}

// The descriptor of the first device whose bus/address prefix occurs in `devicePath`.
bool findByPrefix(const std::string& devicePath, const char* who, libusb_device_descriptor* descriptor)
{
    LibUsbContext context(LibUsbContext::Private);
    DeviceList devices(context);
    if (!devices.ok())
        return false;
    syslog(LOG_INFO, "NATIVESUPPORT: %s Looking For : %s", who, devicePath.c_str());
    for (ssize_t i = 0; i < devices.count(); ++i) {
        const std::string prefix = busAddressPrefix(devices[i]);
        if (devicePath.find(prefix) == std::string::npos)
            continue;
        syslog(LOG_INFO, "NATIVESUPPORT: %s Found : %s", who, prefix.c_str());
        return libusb_get_device_descriptor(devices[i], descriptor) == 0;
    }
    return false;
}
}

std::string discoverDevices()
{
    std::string found;
    {
        LibUsbContext context(LibUsbContext::Private);
        DeviceList devices(context);
        findSupportedDevice(devices,
                            "NATIVESUPPORT: Unable to retrieve device descriptor so we cannot validate a device "
                            "match. Moving on to next device.",
                            [&](libusb_device* device, const libusb_device_descriptor& descriptor) {
                                if (!found.empty())
                                    found += "|";
                                found += formatDevicePath(device, descriptor);
                                return false;
                            });
    }
    syslog(LOG_INFO, "NATIVESUPPORT: Found: %s", found.c_str());
    return found;
}

int16_t getVid(std::string devicePath)
{
    libusb_device_descriptor descriptor;
    return findByPrefix(devicePath, "getVid()", &descriptor) ? static_cast<int16_t>(descriptor.idVendor) : 0;
}

int16_t getPid(std::string devicePath)
{
    libusb_device_descriptor descriptor;
    return findByPrefix(devicePath, "getPid()", &descriptor) ? static_cast<int16_t>(descriptor.idProduct) : 0;
}

} // namespace nativesupport
