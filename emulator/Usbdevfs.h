// Answers the usbdevfs ioctls libusb's Linux backend issues on a device
// node. The host shares our address space, so the ioctl argument and the
// URBs it points to are read and written in place; the host thread is
// blocked in its ioctl while this runs.
#pragma once

#include "Device.h"

namespace nsemu {

struct IoctlResult {
    long result = 0;
    int error = 0;  // errno when result is -1
};

// device may be null: the node belongs to a device that is gone.
IoctlResult handleUsbdevfs(Device* device, ClientId client, unsigned long request, void* arg);

}  // namespace nsemu
