#include "Refusal.h"

#include <syslog.h>

namespace nativesupport {

void explainRefusal(libusb_device* device, int result)
{
    const char* text;
    if (result == LIBUSB_ERROR_ACCESS)
        text = "NATIVESUPPORT: No permission to open the tablet at /dev/bus/usb/%03d/%03d.  The "
               "libnativesupport-jni package's udev rule gives tablets to the user logged in at this "
               "computer's own screen and keyboard (the seat): install the package, and run the "
               "application as that user.";
    else if (result == LIBUSB_ERROR_BUSY)
        text = "NATIVESUPPORT: The tablet at /dev/bus/usb/%03d/%03d is held by another program.  Close the "
               "other program that uses it (another copy of the application, or a tablet driver), then "
               "connect again.";
    else
        return;
    syslog(LOG_INFO, text, libusb_get_bus_number(device), libusb_get_device_address(device));
}

} // namespace nativesupport
