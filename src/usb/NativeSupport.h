#pragma once
// The registry of live USBDevice instances that NativeUSB's entry points look handles up in.
#include "HandleRegistry.h"
#include "USBDevice.h"

namespace nativesupport {

// Every live USBDevice, in order of creation. Never destroyed: threads may still call in
// while the process runs its exit handlers.
HandleRegistry<USBDevice>& usbDevices();

// Whether `device` names a registered instance; never dereferences it.
bool doesUSBDeviceExist(USBDevice* device);

} // namespace nativesupport
