// An opened device waiting for input must not keep libusb's event loop
// busy. This measures CPU time over a wall-clock second; the sleep is the
// measurement window, nothing waits on it.
#include "EmulatorFixture.h"

#include <sys/resource.h>

namespace nsemu {
namespace testing {
namespace {

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    auto seconds = [](const timeval& t) { return t.tv_sec + t.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

using IdleCpu = EmulatorTest;

TEST_F(IdleCpu, PendingInTransferCostsAlmostNothing)
{
    const DeviceId id = emu.plug(models::hidDigitizer(1, 2));
    LibusbSession usb;
    libusb_device_handle* handle = usb.open(0x5543, 0x0064);
    ASSERT_NE(handle, nullptr);
    ASSERT_EQ(libusb_claim_interface(handle, 0), 0);
    AsyncTransfer in(handle, 0x81, 8);
    ASSERT_EQ(in.submit(), 0);
    ASSERT_TRUE(emu.waitForPendingIn(id));

    const double before = cpuSeconds();
    std::this_thread::sleep_for(std::chrono::seconds(1));
    EXPECT_LT(cpuSeconds() - before, 0.05);

    emu.feedInput(id, {1, 2});
    EXPECT_TRUE(in.waitDone());
    libusb_close(handle);
}

}  // namespace
}  // namespace testing
}  // namespace nsemu
