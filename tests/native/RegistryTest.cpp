#include "NativeSupport.h"
#include "USBDevice.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

TEST(Registry, ListsLiveDevicesInOrderOfConstruction)
{
    const size_t before = usbDevices.size();
    USBDevice* a = new USBDevice();
    USBDevice* b = new USBDevice();
    USBDevice* c = new USBDevice();
    ASSERT_EQ(before + 3, usbDevices.size());
    delete b;
    ASSERT_EQ(before + 2, usbDevices.size());
    EXPECT_EQ(a, usbDevices[before]);
    EXPECT_EQ(c, usbDevices[before + 1]);
    EXPECT_TRUE(doesUSBDeviceExist(a));
    EXPECT_FALSE(doesUSBDeviceExist(nullptr));
    delete a;
    delete c;
    EXPECT_EQ(before, usbDevices.size());
}

TEST(Registry, HandlesRoundTripThePointer)
{
    USBDevice* d = new USBDevice();
    const jlong handle = handleFromPointer(d);
    EXPECT_EQ(d, pointerFromHandle(handle));
    {
        USBDeviceLease lease(handle);
        EXPECT_EQ(d, lease.get());
    }
    EXPECT_EQ(static_cast<int>(reinterpret_cast<uintptr_t>(d) & 0xffffffffu), handleLogValue(handle));
    EXPECT_TRUE(destroyUSBDevice(handle));
    EXPECT_FALSE(destroyUSBDevice(handle));
    USBDeviceLease stale(handle);
    EXPECT_FALSE(stale);
}

TEST(Registry, DestroyWaitsForCallsUnderWayAndRefusesNewOnes)
{
    USBDevice* d = new USBDevice();
    const jlong handle = handleFromPointer(d);
    auto held = std::make_unique<USBDeviceLease>(handle);
    ASSERT_TRUE(*held);

    std::atomic<bool> destroyed{false};
    std::thread destroyer([&] {
        destroyed = destroyUSBDevice(handle);
    });
    // Once the destroy has begun, new calls no longer get the device.
    for (;;) {
        USBDeviceLease probe(handle);
        if (!probe)
            break;
        std::this_thread::yield();
    }
    EXPECT_FALSE(destroyed);
    EXPECT_TRUE(doesUSBDeviceExist(d)) << "the device lives while a call still uses it";
    held.reset();
    destroyer.join();
    EXPECT_TRUE(destroyed);
    EXPECT_FALSE(doesUSBDeviceExist(d));
}
