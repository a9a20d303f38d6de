// Interrupt IN reports, OUT reports and control requests as libusb sees
// and sends them.
#include "EmulatorFixture.h"

namespace nsemu {
namespace testing {
namespace {

class Transfers : public EmulatorTest {
protected:
    void open(const DeviceDescription& model)
    {
        m_id = emu.plug(model);
        m_handle = m_usb.open(model.idVendor, model.idProduct);
        ASSERT_NE(m_handle, nullptr);
        ASSERT_EQ(libusb_claim_interface(m_handle, 0), 0);
    }
    void TearDown() override
    {
        if (m_handle)
            libusb_close(m_handle);
        EmulatorTest::TearDown();
    }

    LibusbSession m_usb;
    DeviceId m_id = 0;
    libusb_device_handle* m_handle = nullptr;
};

TEST_F(Transfers, PendingInTransferCompletesWithFedReports)
{
    open(models::tablet(0x5543, 0x0064, 1, 2));
    const Bytes full(64, 0x5a);
    const Bytes shortReport = {0x02, 0x81, 0x10, 0x27, 0x20, 0x4e};

    for (const Bytes& report : {full, shortReport}) {
        AsyncTransfer in(m_handle, 0x81, 64);
        ASSERT_EQ(in.submit(), 0);
        ASSERT_TRUE(emu.waitForPendingIn(m_id));
        emu.feedInput(m_id, report);
        ASSERT_TRUE(in.waitDone());
        EXPECT_EQ(in.status(), LIBUSB_TRANSFER_COMPLETED);
        EXPECT_EQ(in.received(), report);
    }
}

TEST_F(Transfers, ReportsFedAheadAreDeliveredInOrder)
{
    open(models::hidDigitizer(1, 2));
    emu.feedInput(m_id, {1, 2, 3});
    emu.feedInput(m_id, {4, 5});
    emu.feedInput(m_id, {6, 7, 8, 9, 10, 11, 12, 13, 14});  // longer than the 8-byte endpoint

    Bytes buffer(8);
    int got = 0;
    ASSERT_EQ(libusb_interrupt_transfer(m_handle, 0x81, buffer.data(), 8, &got, 1000), 0);
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + got), (Bytes{1, 2, 3}));
    ASSERT_EQ(libusb_interrupt_transfer(m_handle, 0x81, buffer.data(), 8, &got, 1000), 0);
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + got), (Bytes{4, 5}));
    EXPECT_EQ(libusb_interrupt_transfer(m_handle, 0x81, buffer.data(), 8, &got, 1000), LIBUSB_ERROR_OVERFLOW);
}

TEST_F(Transfers, OutReportsAndControlRequestsAreRecordedInOrder)
{
    open(models::tablet(0x078c, 0x0701, 1, 2));
    Bytes command = {0x02, 0x10, 0x01, 0, 0, 0, 0, 0};
    int sent = 0;
    ASSERT_EQ(libusb_interrupt_transfer(m_handle, 0x02, command.data(), 8, &sent, 1000), 0);
    EXPECT_EQ(sent, 8);
    // No endpoint 0x01 on this product: usbfs refuses the URB.
    EXPECT_EQ(libusb_interrupt_transfer(m_handle, 0x01, command.data(), 8, &sent, 1000), LIBUSB_ERROR_IO);
    unsigned char feature[3] = {0x02, 0x04, 0x00};
    ASSERT_EQ(libusb_control_transfer(m_handle, 0x21, 0x09, 0x0302, 0, feature, 3, 1000), 3);

    EXPECT_EQ(recordLines(m_id), (std::vector<std::string>{"OUT 02 0210010000000000",
                                                           "CTRL 21 09 0302 0000 0003 020400"}));
}

TEST_F(Transfers, FeatureReportsAnswerTheLastCommand)
{
    const DeviceDescription model = models::tablet(0x172f, 0x0031, 1, 2);
    open(model);
    models::featureResponder(model)->setAnswer({0x02, 0x01, 0x01}, 0x1234);
    auto query = [this](std::uint8_t a, std::uint8_t b, std::uint8_t c) {
        unsigned char command[3] = {a, b, c};
        unsigned char answer[3] = {};
        EXPECT_EQ(libusb_control_transfer(m_handle, 0x21, 0x09, 0x0302, 0, command, 3, 1000), 3);
        EXPECT_EQ(libusb_control_transfer(m_handle, 0xa1, 0x01, 0x0302, 0, answer, 3, 1000), 3);
        return Bytes(answer, answer + 3);
    };
    EXPECT_EQ(query(0x02, 0x04, 0x00), (Bytes{0x02, 0x10, 0x02}));
    EXPECT_EQ(query(0x02, 0x01, 0x00), (Bytes{0x02, 0x00, 0x7d}));
    EXPECT_EQ(query(0x02, 0x01, 0x01), (Bytes{0x02, 0x34, 0x12}));
}

TEST_F(Transfers, DfuDownloadWalksTheStateMachine)
{
    open(models::dfu(false, 1, 2));
    unsigned char block[16] = {1, 2, 3};
    unsigned char status[6] = {};
    ASSERT_EQ(libusb_control_transfer(m_handle, 0x21, 1, 0, 0, block, sizeof block, 1000), 16);
    ASSERT_EQ(libusb_control_transfer(m_handle, 0xa1, 3, 0, 0, status, 6, 1000), 6);
    EXPECT_EQ(status[4], DfuResponder::kDownloadIdle);
    ASSERT_EQ(libusb_control_transfer(m_handle, 0x21, 1, 1, 0, nullptr, 0, 1000), 0);
    ASSERT_EQ(libusb_control_transfer(m_handle, 0xa1, 3, 0, 0, status, 6, 1000), 6);
    EXPECT_EQ(status[4], DfuResponder::kManifest);
    ASSERT_EQ(libusb_control_transfer(m_handle, 0xa1, 3, 0, 0, status, 6, 1000), 6);
    EXPECT_EQ(status[4], DfuResponder::kIdle);
}

}  // namespace
}  // namespace testing
}  // namespace nsemu
