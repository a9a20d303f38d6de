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
std::condition_variable& g_registryIdle = *new std::condition_variable();
// Beside each entry of usbDevices: the calls under way on it, and whether its destroy has
// begun. Kept in step with usbDevices, so a call costs no allocation.
std::vector<int>& g_leases = *new std::vector<int>();
std::vector<bool>& g_retiring = *new std::vector<bool>();

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
    g_leases.push_back(0);
    g_retiring.push_back(false);
}

void unregisterUSBDevice(USBDevice* device)
{
    std::lock_guard<std::mutex> lock(g_registryMutex);
    const ptrdiff_t i = indexOfLocked(device);
    if (i < 0)
        return;
    usbDevices.erase(usbDevices.begin() + i);
    g_leases.erase(g_leases.begin() + i);
    g_retiring.erase(g_retiring.begin() + i);
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
    const ptrdiff_t i = indexOfLocked(device);
    if (i >= 0 && !g_retiring[static_cast<size_t>(i)]) {
        ++g_leases[static_cast<size_t>(i)];
        m_device = device;
    }
}

USBDeviceLease::~USBDeviceLease()
{
    if (m_device == nullptr)
        return;
    std::lock_guard<std::mutex> lock(g_registryMutex);
    const ptrdiff_t i = indexOfLocked(m_device);   // a leased device stays registered
    if (--g_leases[static_cast<size_t>(i)] == 0 && g_retiring[static_cast<size_t>(i)])
        g_registryIdle.notify_all();
}

bool destroyUSBDevice(jlong handle)
{
    USBDevice* device = static_cast<USBDevice*>(pointerFromHandle(handle));
    {
        std::unique_lock<std::mutex> lock(g_registryMutex);
        const ptrdiff_t i = indexOfLocked(device);
        if (i < 0 || g_retiring[static_cast<size_t>(i)])
            return false;
        g_retiring[static_cast<size_t>(i)] = true;
        g_registryIdle.wait(lock, [device] { return g_leases[static_cast<size_t>(indexOfLocked(device))] == 0; });
    }
    device->close_Device();
    delete device;   // the destructor unregisters it
    return true;
}
