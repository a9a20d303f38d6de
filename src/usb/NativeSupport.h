#pragma once
#include <jni.h>

#include <cstdint>
#include <vector>

class USBDevice;

// Every live USBDevice, in order of construction. The constructor and destructor keep it
// up to date; it owns nothing.
// Never destroyed: threads may still call in while the process runs its exit handlers.
extern std::vector<USBDevice*>& usbDevices;

bool doesUSBDeviceExist(USBDevice* device);

// Registry upkeep, called by USBDevice's constructor and destructor.
void registerUSBDevice(USBDevice* device);
void unregisterUSBDevice(USBDevice* device);

// A native instance handle carries the object's address (sign-extended in the 32-bit
// build); log lines print its low 32 bits.
jlong handleFromPointer(const void* p);
void* pointerFromHandle(jlong handle);
inline int handleLogValue(jlong handle) { return static_cast<int>(static_cast<uint32_t>(handle)); }

// Keeps a registered device from being destroyed while one native call uses it. A handle
// that is not registered (or whose destroy has begun) gives an empty lease.
class USBDeviceLease {
public:
    explicit USBDeviceLease(jlong handle);
    ~USBDeviceLease();
    USBDeviceLease(const USBDeviceLease&) = delete;
    USBDeviceLease& operator=(const USBDeviceLease&) = delete;

    USBDevice* get() const { return m_device; }
    USBDevice* operator->() const { return m_device; }
    explicit operator bool() const { return m_device != nullptr; }

private:
    USBDevice* m_device;
};

// The number of reports waiting on a registered device, or -1 for a handle that names no
// device in use. Read under the registry's lock, so it needs no lease: the cheap first
// look of a poll.
long queuedReportsOf(jlong handle);

// Takes the device out of use: waits for the calls under way on it, then closes and
// deletes it. False when the handle names no live device.
bool destroyUSBDevice(jlong handle);
