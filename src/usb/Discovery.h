#pragma once
#include <libusb-1.0/libusb.h>

#include <cstdint>
#include <string>

// The vendors whose devices are listed and opened, in the order they are tested.
extern const uint16_t supportedVendorIds[5];
bool isSupportedVendor(uint16_t vendorId);

// "%03i/%03i-%04x-%04x-%02x-%02x": bus, address, vendor, product, class, subclass.
std::string formatDevicePath(libusb_device* device, const libusb_device_descriptor& descriptor);

// The path strings of the attached devices of supported vendors, joined by "|".
std::string discoverDevices();

// The vendor or product id of the first attached device whose bus/address prefix occurs
// in `devicePath`; 0 when there is none.
int16_t getVid(std::string devicePath);
int16_t getPid(std::string devicePath);
