#pragma once
#include <string>

// The name of a libusb result code as printed in the library's failure lines: the
// libusb constant's name for the thirteen error codes, "" for every other value.
std::string getLibUSBErrorString(int code);
// The same name without an allocation, for the paths that must not throw.
const char* libUsbErrorName(int code);
