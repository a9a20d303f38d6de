#include "NativeSupport.h"

#include "USBDevice.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>

std::vector<USBDevice*> usbDevices;

namespace {
std::mutex g_registryMutex;
std::condition_variable g_registryIdle;
// Beside each entry of usbDevices: the calls under way on it, and whether its destroy has
// begun. Kept in step with usbDevices, so a call costs no allocation.
std::vector<int> g_leases;
std::vector<bool> g_retiring;

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
