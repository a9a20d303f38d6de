#include "LibUsbError.h"

#include <gtest/gtest.h>

TEST(LibUsbError, NamesExactlyTheThirteenErrorCodes)
{
    EXPECT_EQ("LIBUSB_ERROR_IO", getLibUSBErrorString(-1));
    EXPECT_EQ("LIBUSB_ERROR_TIMEOUT", getLibUSBErrorString(-7));
    EXPECT_EQ("LIBUSB_ERROR_NOT_SUPPORTED", getLibUSBErrorString(-12));
    EXPECT_EQ("LIBUSB_ERROR_OTHER", getLibUSBErrorString(-99));
    int named = 0;
    for (int code = -200; code <= 200; ++code)
        named += getLibUSBErrorString(code).empty() ? 0 : 1;
    EXPECT_EQ(13, named);
    for (int code : {0, 1, 64, -13, -98, -100})
        EXPECT_EQ("", getLibUSBErrorString(code)) << code;
}
