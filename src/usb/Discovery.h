#pragma once
// Device discovery: the attached devices of the supported vendors, the device path strings
// that name them, and the lookups of a device by such a string.
#include "LibUsbScope.h"

#include <cstdint>
#include <functional>
#include <string>

namespace nativesupport {

// The vendors whose devices are listed and opened, in the order they are tested.
extern const uint16_t supportedVendorIds[5];
bool isSupportedVendor(uint16_t vendorId);

// "%03i/%03i-%04x-%04x-%02x-%02x": bus, address, vendor, product, class, subclass.
std::string formatDevicePath(libusb_device* device, const libusb_device_descriptor& descriptor);

// Goes through the listed devices in libusb's order and hands each one of a supported
// vendor to `visit` until it returns true; that device is the result (null if none).
// Every readable device gets its "Found VID" line, an unreadable one `unreadableLine`.
using SupportedDeviceVisitor = std::function<bool(libusb_device*, const libusb_device_descriptor&)>;
libusb_device* findSupportedDevice(const DeviceList& devices, const char* unreadableLine,
                                   const SupportedDeviceVisitor& visit);

// The path strings of the attached devices of supported vendors, joined by "|".
std::string discoverDevices();

// The vendor or product id of the first attached device whose bus/address prefix occurs
// in `devicePath`; 0 when there is none.
int16_t getVid(std::string devicePath);
int16_t getPid(std::string devicePath);

} // namespace nativesupport
