#include "NativeSupport.h"

#include "USBDevice.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>

// The registry is never destroyed: a Java daemon thread or a library thread may still be in
// a native call while the JVM's exit runs the library's static destructors.
std::vector<USBDevice*>& usbDevices = *new std::vector<USBDevice*>();

namespace {
std::mutex g_registryMutex;
// Signalled, under g_registryMutex, when the last call on a retiring device ends.
std::condition_variable& g_registryIdle = *new std::condition_variable();

ptrdiff_t indexOfLocked(USBDevice* device)
{
    if (device == nullptr)
        return -1;
    auto it = std::find(usbDevices.begin(), usbDevices.end(), device);
    return it == usbDevices.end() ? -1 : it - usbDevices.begin();
}
}

bool doesUSBDeviceExist(USBDevice* device)
{
    std::lock_guard<std::mutex> lock(g_registryMutex);
    return indexOfLocked(device) >= 0;
}

void registerUSBDevice(USBDevice* device)
{
    std::lock_guard<std::mutex> lock(g_registryMutex);
    usbDevices.push_back(device);
}

void unregisterUSBDevice(USBDevice* device)
{
    std::lock_guard<std::mutex> lock(g_registryMutex);
    const ptrdiff_t i = indexOfLocked(device);
    if (i < 0)
        return;
    usbDevices.erase(usbDevices.begin() + i);
}

jlong handleFromPointer(const void* p)
{
    return static_cast<jlong>(reinterpret_cast<intptr_t>(p));
}

void* pointerFromHandle(jlong handle)
{
    return reinterpret_cast<void*>(static_cast<intptr_t>(handle));
}

USBDeviceLease::USBDeviceLease(jlong handle) : m_device(nullptr)
{
    USBDevice* device = static_cast<USBDevice*>(pointerFromHandle(handle));
    std::lock_guard<std::mutex> lock(g_registryMutex);
    if (indexOfLocked(device) >= 0 && !device->m_retiring) {
        ++device->m_leases;
        m_device = device;
    }
}

// Ending a call takes no lock unless a destroy waits for it: the destroy sets m_retiring
// before it looks at m_leases, and this side decrements before it looks at m_retiring,
// so at least one of the two sees the other.
USBDeviceLease::~USBDeviceLease()
{
    if (m_device == nullptr)
        return;
    if (--m_device->m_leases == 0 && m_device->m_retiring) {
        std::lock_guard<std::mutex> lock(g_registryMutex);
        g_registryIdle.notify_all();
    }
}

long queuedReportsOf(jlong handle)
{
    USBDevice* device = static_cast<USBDevice*>(pointerFromHandle(handle));
    std::lock_guard<std::mutex> lock(g_registryMutex);
    if (indexOfLocked(device) < 0 || device->m_retiring)
        return -1;
    return static_cast<long>(device->queuedReports());
}

bool destroyUSBDevice(jlong handle)
{
    USBDevice* device = static_cast<USBDevice*>(pointerFromHandle(handle));
    {
        std::unique_lock<std::mutex> lock(g_registryMutex);
        if (indexOfLocked(device) < 0 || device->m_retiring)
            return false;
        device->m_retiring = true;
        g_registryIdle.wait(lock, [device] { return device->m_leases == 0; });
    }
    device->close_Device();
    delete device;   // the destructor unregisters it
    return true;
}
