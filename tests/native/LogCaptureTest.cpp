#include "LogCapture.h"

#include <gtest/gtest.h>
#include <syslog.h>

using namespace std::chrono_literals;

TEST(LogCapture, ReceivesLinesWithPriorityAndExactText)
{
    nstest::LogCapture capture;
    ASSERT_TRUE(capture.start());
    openlog("libNativeSupport", LOG_PID | LOG_PERROR, 0);
    syslog(LOG_INFO, "NATIVESUPPORT: Found VID: %04x", 0x78c);
    syslog(LOG_DEBUG, "NATIVESUPPORT: Found: ");
    closelog();
    syslog(LOG_DEBUG, "SHAREDMEMORY: after closelog (%d)", 7);
    const std::vector<nstest::LogLine> expected = {
        {6, "NATIVESUPPORT: Found VID: 078c"},
        {7, "NATIVESUPPORT: Found: "},
        {7, "SHAREDMEMORY: after closelog (7)"},
    };
    EXPECT_EQ(expected, capture.take());
    EXPECT_TRUE(capture.take().empty());
}

TEST(LogCapture, ParsesTheSyslogHeader)
{
    const char datagram[] = "<15>Dec  6 02:30:50 libNativeSupport[1234]: NATIVESUPPORT: a: b";
    nstest::LogLine line;
    ASSERT_TRUE(nstest::LogCapture::parse(datagram, sizeof datagram - 1, &line));
    EXPECT_EQ(7, line.priority);
    EXPECT_EQ("NATIVESUPPORT: a: b", line.text);
}
