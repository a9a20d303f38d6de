#pragma once
// The library's blocking transfers. They run on libusb's asynchronous API and wait for
// their own completion, and their completion touches nothing once it has told the waiting
// thread: any thread handling events on the default context (another device's read thread,
// most often) may complete them, and the waiter frees the transfer as soon as it is told.
// libusb 1.0.26's own synchronous calls still read the transfer after telling, so the
// library calls none of them.
//
// Results follow libusb's synchronous calls: the byte count or a negative libusb error code.
#include <libusb-1.0/libusb.h>

#include <cstdint>

namespace nativesupport {

// What libusb's synchronous calls give for a transfer that has finished: 0, or the error code
// of its status.
int resultOf(const libusb_transfer* transfer);

int controlTransfer(libusb_device_handle* handle, uint8_t requestType, uint8_t request, uint16_t value,
                    uint16_t index, unsigned char* data, uint16_t length, unsigned int timeout);

// 0, or a negative libusb error code; `transferred` receives the bytes moved in either case.
int interruptTransfer(libusb_device_handle* handle, unsigned char endpoint, unsigned char* data, int length,
                      int* transferred, unsigned int timeout);

// A string descriptor in the device's first language, as ASCII ('?' for anything else),
// zero-terminated within `length` bytes: the number of characters, or a negative code.
int stringDescriptorAscii(libusb_device_handle* handle, uint8_t index, unsigned char* data, int length);

} // namespace nativesupport
