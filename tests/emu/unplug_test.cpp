// Unplugging under libusb's feet: transfers in flight end, the device
// leaves the list, its handle only gets "no device" from then on.
#include "EmulatorFixture.h"

namespace nsemu {
namespace testing {
namespace {

using Unplug = EmulatorTest;

TEST_F(Unplug, PendingTransferEndsWithNoDeviceAndDeviceLeavesList)
{
    LibusbSession usb;
    HotplugWatcher hotplug(usb.context());
    const DeviceId id = emu.plug(models::tablet(0x0483, 0x5710, 1, 2));
    ASSERT_TRUE(hotplug.waitArrived(1));
    libusb_device_handle* handle = usb.open(0x0483, 0x5710);
    ASSERT_NE(handle, nullptr);
    ASSERT_EQ(libusb_claim_interface(handle, 0), 0);
    {
        AsyncTransfer in(handle, 0x81, 64);
        ASSERT_EQ(in.submit(), 0);
        ASSERT_TRUE(emu.waitForPendingIn(id));

        emu.unplug(id);
        ASSERT_TRUE(in.waitDone());
        EXPECT_EQ(in.status(), LIBUSB_TRANSFER_NO_DEVICE);
        ASSERT_TRUE(hotplug.waitLeft(1));
        EXPECT_TRUE(usb.listed().empty());

        AsyncTransfer again(handle, 0x81, 64);
        EXPECT_EQ(again.submit(), LIBUSB_ERROR_NO_DEVICE);
        unsigned char status[2];
        EXPECT_EQ(libusb_control_transfer(handle, 0x80, 0, 0, 0, status, 2, 1000), LIBUSB_ERROR_NO_DEVICE);
    }
    libusb_close(handle);
}

TEST_F(Unplug, ReplugGivesANewDeviceWhileOldHandlesStayDead)
{
    LibusbSession usb;
    HotplugWatcher hotplug(usb.context());
    const DeviceId first = emu.plug(models::hidDigitizer(1, 2));
    ASSERT_TRUE(hotplug.waitArrived(1));
    libusb_device_handle* old = usb.open(0x5543, 0x0064);
    ASSERT_NE(old, nullptr);
    emu.unplug(first);
    ASSERT_TRUE(hotplug.waitLeft(1));

    const DeviceId second = emu.plug(models::hidDigitizer(1, 2));  // same address
    ASSERT_TRUE(hotplug.waitArrived(2));
    libusb_device_handle* fresh = usb.open(0x5543, 0x0064);
    ASSERT_NE(fresh, nullptr);
    unsigned char status[2];
    EXPECT_EQ(libusb_control_transfer(old, 0x80, 0, 0, 0, status, 2, 1000), LIBUSB_ERROR_NO_DEVICE);
    EXPECT_EQ(libusb_control_transfer(fresh, 0x80, 0, 0, 0, status, 2, 1000), 2);
    EXPECT_EQ(emu.records(first).size(), 0u);
    EXPECT_EQ(emu.records(second).size(), 1u);
    libusb_close(old);
    libusb_close(fresh);
}

}  // namespace
}  // namespace testing
}  // namespace nsemu
