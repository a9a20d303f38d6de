#include "NativeSupport.h"

namespace nativesupport {

HandleRegistry<USBDevice>& usbDevices()
{
    static HandleRegistry<USBDevice>& registry = *new HandleRegistry<USBDevice>();
    return registry;
}

bool doesUSBDeviceExist(USBDevice* device)
{
    return usbDevices().contains(device);
}

} // namespace nativesupport
