// The sysfs and udev view of an emulated device, in the text format
// umockdev_testbed_add_from_string() reads. What libusb's Linux backend
// (udev flavour) reads: DEVTYPE/DEVNAME/BUSNUM/DEVNUM properties and the
// busnum, devnum, speed, descriptors and bConfigurationValue attributes.
//
// Device paths are /sys/devices/nsemu/b<bus>/a<address>/<bus>-<address>,
// zero padded so that path order is (bus, address) order; udev enumerates
// in path order. The sysfs name "<bus>-<address>" makes libusb report the
// address as port number and "usb<bus>" (absent) as parent.
#pragma once

#include <string>

#include "DeviceDescription.h"

namespace nsemu {

std::string devicePath(const DeviceDescription& model);     // "/sys/devices/..."
std::string deviceNode(const DeviceDescription& model);     // "/dev/bus/usb/BBB/AAA"
std::string deviceRecord(const DeviceDescription& model);   // for add_from_string
// "%03i/%03i-%04x-%04x-%02x-%02x": bus/address-vid-pid-class-subclass.
std::string deviceIdPath(const DeviceDescription& model);

}  // namespace nsemu
