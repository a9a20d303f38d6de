// What libusb sees of plugged devices before any transfer: the list, the
// descriptors and strings, and the kernel driver binding.
#include "EmulatorFixture.h"

namespace nsemu {
namespace testing {
namespace {

using Enumeration = EmulatorTest;

std::string stringDescriptor(libusb_device_handle* handle, std::uint8_t index)
{
    unsigned char text[256] = {};
    const int length = libusb_get_string_descriptor_ascii(handle, index, text, sizeof text);
    return length < 0 ? "error " + std::to_string(length) : std::string(reinterpret_cast<char*>(text), length);
}

TEST_F(Enumeration, ListsDevicesNewestFirstInBusAddressOrder)
{
    emu.plug(models::hidDigitizer(1, 5));
    emu.plug(models::unsupported(1, 12));
    emu.plug(models::dfu(false, 2, 3));
    LibusbSession usb;
    HotplugWatcher hotplug(usb.context());
    emu.plug(models::tablet(0x08ca, 0x0010, 1, 7));
    ASSERT_TRUE(hotplug.waitArrived(1));

    const std::vector<std::pair<int, int>> expected = {{1, 7}, {2, 3}, {1, 12}, {1, 5}};
    EXPECT_EQ(usb.listed(), expected);
}

TEST_F(Enumeration, DescriptorsAndStringsMatchTheModel)
{
    const DeviceDescription model = models::tablet(0x078c, 0x0700, 3, 9);
    const DeviceId id = emu.plug(model);
    LibusbSession usb;
    libusb_device_handle* handle = usb.open(0x078c, 0x0700);
    ASSERT_NE(handle, nullptr);
    libusb_device* device = libusb_get_device(handle);

    libusb_device_descriptor desc{};
    ASSERT_EQ(libusb_get_device_descriptor(device, &desc), 0);
    EXPECT_EQ(libusb_get_bus_number(device), 3);
    EXPECT_EQ(libusb_get_device_address(device), 9);
    EXPECT_EQ(libusb_get_port_number(device), 9);
    EXPECT_EQ(desc.bcdDevice, model.bcdDevice);
    EXPECT_EQ(stringDescriptor(handle, desc.iManufacturer), "Calcomp");
    EXPECT_EQ(stringDescriptor(handle, desc.iProduct), "Pen Tablet");
    EXPECT_EQ(stringDescriptor(handle, desc.iSerialNumber), "EMU0001");

    libusb_config_descriptor* config = nullptr;
    ASSERT_EQ(libusb_get_active_config_descriptor(device, &config), 0);
    const libusb_interface_descriptor& intf = config->interface[0].altsetting[0];
    EXPECT_EQ(intf.bInterfaceClass, 3);
    EXPECT_EQ(stringDescriptor(handle, intf.iInterface), "Pen");
    ASSERT_EQ(intf.bNumEndpoints, 2);
    EXPECT_EQ(intf.endpoint[0].bEndpointAddress, 0x81);
    EXPECT_EQ(intf.endpoint[0].wMaxPacketSize, 64);
    EXPECT_EQ(intf.endpoint[1].bEndpointAddress, 0x02);
    libusb_free_config_descriptor(config);

    Bytes report(1024);
    const int length = libusb_control_transfer(handle, 0x81, LIBUSB_REQUEST_GET_DESCRIPTOR, 0x2200, 0,
                                               report.data(), static_cast<std::uint16_t>(report.size()), 1000);
    ASSERT_GT(length, 0);
    report.resize(length);
    EXPECT_EQ(report, model.reportDescriptor);
    EXPECT_EQ(emu.path(id), "003/009-078c-0700-00-00");
    libusb_close(handle);
}

TEST_F(Enumeration, KernelDriverBlocksClaimUntilDetached)
{
    const DeviceId id = emu.plug(*models::byName("kernel-driver", 1, 4));
    LibusbSession usb;
    libusb_device_handle* handle = usb.open(0x5543, 0x0064);
    ASSERT_NE(handle, nullptr);

    EXPECT_EQ(libusb_kernel_driver_active(handle, 0), 1);
    EXPECT_EQ(libusb_claim_interface(handle, 0), LIBUSB_ERROR_BUSY);
    Bytes buffer(64);
    int transferred = 0;
    // usbfs claims on first use, which the bound driver refuses too.
    EXPECT_EQ(libusb_interrupt_transfer(handle, 0x81, buffer.data(), 64, &transferred, 50), LIBUSB_ERROR_IO);

    EXPECT_EQ(libusb_detach_kernel_driver(handle, 0), 0);
    EXPECT_EQ(libusb_kernel_driver_active(handle, 0), 0);
    EXPECT_FALSE(emu.status(id).kernelDriverBound);
    ASSERT_EQ(libusb_claim_interface(handle, 0), 0);
    EXPECT_TRUE(emu.status(id).claimed);
    EXPECT_EQ(libusb_release_interface(handle, 0), 0);
    EXPECT_EQ(libusb_attach_kernel_driver(handle, 0), 0);
    EXPECT_EQ(libusb_kernel_driver_active(handle, 0), 1);
    EXPECT_TRUE(emu.waitForClients(id, 1));
    libusb_close(handle);
    EXPECT_TRUE(emu.waitForClients(id, 0));
}

TEST_F(Enumeration, ClosingAHandleGivesUpItsClaim)
{
    const DeviceId id = emu.plug(models::hidDigitizer(1, 4));
    LibusbSession usb;
    for (int round = 0; round < 20; ++round) {  // reopen at once, as a real close releases synchronously
        libusb_device_handle* handle = usb.open(0x5543, 0x0064);
        ASSERT_NE(handle, nullptr);
        ASSERT_EQ(libusb_claim_interface(handle, 0), 0) << "round " << round;
        libusb_close(handle);
    }
    EXPECT_TRUE(emu.waitForClients(id, 0));
    EXPECT_FALSE(emu.status(id).claimed);
}

TEST_F(Enumeration, HotplugSeesArrivalAndDeparture)
{
    LibusbSession usb;
    HotplugWatcher hotplug(usb.context());
    const DeviceId id = emu.plug(models::dfu(true, 1, 20));
    ASSERT_TRUE(hotplug.waitArrived(1));
    EXPECT_EQ(usb.listed().size(), 1u);

    emu.unplug(id);
    ASSERT_TRUE(hotplug.waitLeft(1));
    EXPECT_TRUE(usb.listed().empty());
}

}  // namespace
}  // namespace testing
}  // namespace nsemu
