#pragma once
// What a person at the desk can do about a tablet the system would not let the library use.
#include <libusb-1.0/libusb.h>

namespace nativesupport {

// After the failure line of an open refused with LIBUSB_ERROR_ACCESS or a claim refused
// with LIBUSB_ERROR_BUSY: one LOG_INFO line that names the device node, says why in plain
// words and what to do. Other results get no line.
void explainRefusal(libusb_device* device, int result);

} // namespace nativesupport
