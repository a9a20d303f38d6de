// DFU 1.1 devices as libusb drives them: detach and re-enumeration, the
// state machine with its poll timeouts, injected errors and the image store.
#include "EmulatorFixture.h"

#include <thread>

namespace nsemu {
namespace testing {
namespace {

class Dfu : public EmulatorTest {
protected:
    void TearDown() override
    {
        if (m_handle)
            libusb_close(m_handle);
        EmulatorTest::TearDown();
    }
    void open(std::uint16_t vendor, std::uint16_t product)
    {
        if (m_handle)
            libusb_close(m_handle);
        m_handle = m_usb.open(vendor, product);
        ASSERT_NE(m_handle, nullptr);
        ASSERT_EQ(libusb_claim_interface(m_handle, 0), 0);
    }
    int request(std::uint8_t request, std::uint16_t value = 0, Bytes data = {})
    {
        return libusb_control_transfer(m_handle, 0x21, request, value, 0, data.data(),
                                       static_cast<std::uint16_t>(data.size()), 1000);
    }
    Bytes status()
    {
        Bytes record(6);
        const int r = libusb_control_transfer(m_handle, 0xa1, 0x03, 0, 0, record.data(), 6, 1000);
        record.resize(r < 0 ? 0 : static_cast<std::size_t>(r));
        return record;
    }
    int state()
    {
        unsigned char value = 0xff;
        const int r = libusb_control_transfer(m_handle, 0xa1, 0x05, 0, 0, &value, 1, 1000);
        return r == 1 ? value : r;
    }

    LibusbSession m_usb;
    libusb_device_handle* m_handle = nullptr;
};

TEST_F(Dfu, DetachReenumeratesTheTabletInDfuModeAtANewAddress)
{
    HotplugWatcher hotplug(m_usb.context());
    const DeviceId tablet = emu.plug(models::dfuCapableTablet(1, 2));
    open(0x078c, 0x0600);
    EXPECT_EQ(state(), DfuResponder::kAppIdle);
    EXPECT_EQ(request(0x00), 0);  // DETACH
    const DeviceId dfu = emu.waitForSuccessor(tablet);
    ASSERT_NE(dfu, 0);
    EXPECT_FALSE(emu.isPlugged(tablet));
    EXPECT_EQ(emu.path(dfu), "001/003-0483-df11-00-00");
    EXPECT_EQ(emu.model(dfu).manufacturer, "VORNIQUE Tablets");
    ASSERT_TRUE(hotplug.waitLeft(1));
    ASSERT_TRUE(hotplug.waitArrived(2));
    EXPECT_EQ(state(), LIBUSB_ERROR_NO_DEVICE);

    open(0x0483, 0xdf11);
    EXPECT_EQ(state(), DfuResponder::kIdle);
    EXPECT_EQ(models::dfuResponder(emu.model(tablet)), models::dfuResponder(emu.model(dfu)));
}

TEST_F(Dfu, BlocksPassThroughBusyStatesAndAnEarlyRequestIsAnError)
{
    const DeviceId id = emu.plug(models::dfu(true, 1, 2));
    auto dfu = models::dfuResponder(emu.model(id));
    dfu->setPollTimeouts(Millis(50), Millis(0));
    open(0x0483, 0xdf11);

    EXPECT_EQ(request(0x01, 0, {1, 2, 3}), 3);
    EXPECT_EQ(status(), (Bytes{0, 50, 0, 0, DfuResponder::kDownloadBusy, 0}));
    EXPECT_EQ(state(), LIBUSB_ERROR_PIPE) << "nothing is answered before bwPollTimeout";
    EXPECT_EQ(status(), (Bytes{DfuResponder::kErrStalledPacket, 0, 0, 0, DfuResponder::kError, 0}));
    EXPECT_EQ(request(0x06), LIBUSB_ERROR_PIPE) << "dfuERROR takes no ABORT";
    EXPECT_EQ(request(0x04), 0);
    EXPECT_EQ(state(), DfuResponder::kIdle);

    EXPECT_EQ(request(0x01, 0, {4, 5}), 2);
    EXPECT_EQ(status()[4], DfuResponder::kDownloadBusy);
    std::this_thread::sleep_for(Millis(50));  // the device's bwPollTimeout
    EXPECT_EQ(status()[4], DfuResponder::kDownloadIdle);
    EXPECT_EQ(request(0x01, 1, {6}), 1);
    EXPECT_EQ(status()[4], DfuResponder::kDownloadBusy);
    std::this_thread::sleep_for(Millis(50));
    EXPECT_EQ(status()[4], DfuResponder::kDownloadIdle);
    EXPECT_EQ(request(0x01, 2), 0);  // the image is complete
    EXPECT_EQ(status()[4], DfuResponder::kManifest);
    EXPECT_EQ(status()[4], DfuResponder::kIdle);
    EXPECT_EQ(dfu->image()->manifested(), (Bytes{4, 5, 6}));
    EXPECT_EQ(dfu->image()->manifestations(), 1);
}

TEST_F(Dfu, AnInjectedErrorDropsItsBlockUntilClearedAndANewDownloadStartsOver)
{
    const DeviceId id = emu.plug(models::dfu(true, 1, 2));
    auto dfu = models::dfuResponder(emu.model(id));
    dfu->failDownload(2, DfuResponder::kErrVerify);
    open(0x0483, 0xdf11);

    EXPECT_EQ(request(0x01, 0, {1}), 1);
    EXPECT_EQ(status()[4], DfuResponder::kDownloadIdle);
    EXPECT_EQ(request(0x01, 1, {2}), 1);
    EXPECT_EQ(status(), (Bytes{DfuResponder::kErrVerify, 0, 0, 0, DfuResponder::kError, 0}));
    EXPECT_EQ(request(0x01, 1, {2}), LIBUSB_ERROR_PIPE);
    EXPECT_EQ(dfu->image()->received(), (Bytes{1}));
    EXPECT_EQ(request(0x04), 0);
    EXPECT_EQ(request(0x06), 0);
    EXPECT_EQ(request(0x01, 0, {7}), 1);
    EXPECT_EQ(dfu->image()->received(), (Bytes{7}));
    EXPECT_EQ(request(0x01, 0), LIBUSB_ERROR_PIPE) << "dfuDNLOAD-SYNC wants a GETSTATUS first";
    EXPECT_EQ(dfu->image()->manifestations(), 0);
}

}  // namespace
}  // namespace testing
}  // namespace nsemu
