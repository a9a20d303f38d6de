#include "NativeSupport.h"

#include "USBDevice.h"

#include <algorithm>
#include <condition_variable>
#include <map>
#include <mutex>
#include <set>

std::vector<USBDevice*> usbDevices;

namespace {
std::mutex g_registryMutex;
std::condition_variable g_registryIdle;
std::map<USBDevice*, int> g_leases;   // calls under way, per device
std::set<USBDevice*> g_retiring;      // devices whose destroy has begun

bool isRegisteredLocked(USBDevice* device)
{
    return device != nullptr && std::find(usbDevices.begin(), usbDevices.end(), device) != usbDevices.end();
}
}

bool doesUSBDeviceExist(USBDevice* device)
{
    std::lock_guard<std::mutex> lock(g_registryMutex);
    return isRegisteredLocked(device);
}

void registerUSBDevice(USBDevice* device)
{
    std::lock_guard<std::mutex> lock(g_registryMutex);
    usbDevices.push_back(device);
}

void unregisterUSBDevice(USBDevice* device)
{
    std::lock_guard<std::mutex> lock(g_registryMutex);
    auto it = std::find(usbDevices.begin(), usbDevices.end(), device);
    if (it != usbDevices.end())
        usbDevices.erase(it);
    g_retiring.erase(device);
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
    if (isRegisteredLocked(device) && g_retiring.count(device) == 0) {
        ++g_leases[device];
        m_device = device;
    }
}

USBDeviceLease::~USBDeviceLease()
{
    if (m_device == nullptr)
        return;
    std::lock_guard<std::mutex> lock(g_registryMutex);
    auto it = g_leases.find(m_device);
    if (--it->second == 0) {
        g_leases.erase(it);
        g_registryIdle.notify_all();
    }
}

bool destroyUSBDevice(jlong handle)
{
    USBDevice* device = static_cast<USBDevice*>(pointerFromHandle(handle));
    {
        std::unique_lock<std::mutex> lock(g_registryMutex);
        if (!isRegisteredLocked(device) || g_retiring.count(device) != 0)
            return false;
        g_retiring.insert(device);
        g_registryIdle.wait(lock, [device] { return g_leases.count(device) == 0; });
    }
    device->close_Device();
    delete device;   // the destructor unregisters it
    return true;
}
