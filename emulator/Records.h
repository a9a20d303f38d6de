// What an emulated device received, in arrival order.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace nsemu {

struct SetupPacket {
    std::uint8_t bmRequestType = 0;
    std::uint8_t bRequest = 0;
    std::uint16_t wValue = 0;
    std::uint16_t wIndex = 0;
    std::uint16_t wLength = 0;

    bool isIn() const { return (bmRequestType & 0x80) != 0; }
};

// How the device ended a request it received.
enum class Outcome { Completed, Failed, Hung };

struct Record {
    enum class Kind { Control, InterruptOut };
    Kind kind = Kind::Control;
    std::uint8_t endpoint = 0;        // 0 for control requests
    SetupPacket setup;                // control requests only
    std::vector<std::uint8_t> data;   // OUT data (control OUT or interrupt OUT)
    Outcome outcome = Outcome::Completed;
    int status = 0;                   // URB status when Failed (negative errno)
};

// One line per record, e.g. "CTRL 21 09 0302 0000 0003 020400" or
// "OUT 01 0102030405060708"; failed ones end in " status=-32", hung ones
// in " hung".
std::string describe(const Record& record);

}  // namespace nsemu
