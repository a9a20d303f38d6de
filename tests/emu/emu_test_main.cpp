#include <gtest/gtest.h>

#include "Emulator.h"
#include "Preload.h"

int main(int argc, char** argv)
{
    nsemu::ensurePreloaded(argc, argv);
    nsemu::Emulator::instance();  // before anything initialises libusb
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
