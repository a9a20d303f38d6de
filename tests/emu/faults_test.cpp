// Injected stalls, errors and hangs reach libusb callers as the matching
// libusb errors, and only as often as asked.
#include "EmulatorFixture.h"

#include <cerrno>

namespace nsemu {
namespace testing {
namespace {

class Faults : public EmulatorTest {
protected:
    void SetUp() override
    {
        m_id = emu.plug(models::tablet(0x08ca, 0x0010, 1, 2));
        m_handle = m_usb.open(0x08ca, 0x0010);
        ASSERT_NE(m_handle, nullptr);
        ASSERT_EQ(libusb_claim_interface(m_handle, 0), 0);
    }
    void TearDown() override
    {
        if (m_handle)
            libusb_close(m_handle);
        EmulatorTest::TearDown();
    }
    int getFeature(unsigned timeoutMs = 1000)
    {
        unsigned char command[3] = {0x02, 0x04, 0x00};
        unsigned char answer[3] = {};
        libusb_control_transfer(m_handle, 0x21, 0x09, 0x0302, 0, command, 3, 1000);
        return libusb_control_transfer(m_handle, 0xa1, 0x01, 0x0302, 0, answer, 3, timeoutMs);
    }
    int interrupt(std::uint8_t endpoint, unsigned timeoutMs = 1000)
    {
        Bytes buffer(8, 0x11);
        int done = 0;
        return libusb_interrupt_transfer(m_handle, endpoint, buffer.data(), 8, &done, timeoutMs);
    }

    LibusbSession m_usb;
    DeviceId m_id = 0;
    libusb_device_handle* m_handle = nullptr;
    const RequestMatch m_getReport{0xa1, 0x01, 0x0302, -1};
};

TEST_F(Faults, StalledRequestGivesPipeErrorOnlyAsOftenAsAsked)
{
    emu.stallRequest(m_id, m_getReport, 2);
    EXPECT_EQ(getFeature(), LIBUSB_ERROR_PIPE);
    EXPECT_EQ(getFeature(), LIBUSB_ERROR_PIPE);
    EXPECT_EQ(getFeature(), 3);
}

TEST_F(Faults, HungRequestTimesOutAndIsDiscarded)
{
    emu.hangRequest(m_id, m_getReport, 1);
    EXPECT_EQ(getFeature(100), LIBUSB_ERROR_TIMEOUT);
    EXPECT_TRUE(emu.waitForDiscards(m_id, 1));
    EXPECT_EQ(getFeature(), 3);
    EXPECT_EQ(describe(emu.records(m_id)[1]), "CTRL a1 01 0302 0000 0003 hung");
}

TEST_F(Faults, FailedEndpointTransfersMapToLibusbErrors)
{
    emu.failEndpoint(m_id, 0x81, -EPROTO);
    emu.failEndpoint(m_id, 0x81, -EPIPE);
    emu.failEndpoint(m_id, 0x01, -EOVERFLOW);
    EXPECT_EQ(interrupt(0x81), LIBUSB_ERROR_IO);
    EXPECT_EQ(interrupt(0x81), LIBUSB_ERROR_PIPE);
    EXPECT_EQ(interrupt(0x01), LIBUSB_ERROR_OVERFLOW);
    emu.feedInput(m_id, {1});
    EXPECT_EQ(interrupt(0x81), 0);
}

TEST_F(Faults, OutEndpointThatNeverAcceptsTimesOut)
{
    emu.hangEndpoint(m_id, 0x01);
    EXPECT_EQ(interrupt(0x01, 100), LIBUSB_ERROR_TIMEOUT);
    EXPECT_EQ(interrupt(0x01, 100), LIBUSB_ERROR_TIMEOUT);
    EXPECT_TRUE(emu.waitForDiscards(m_id, 2));
    emu.clearFaults(m_id);
    EXPECT_EQ(interrupt(0x01), 0);
}

}  // namespace
}  // namespace testing
}  // namespace nsemu
