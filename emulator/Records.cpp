#include "Records.h"

#include <cstdio>

namespace nsemu {

namespace {

std::string hex(const std::vector<std::uint8_t>& bytes)
{
    std::string text;
    char digits[3];
    for (std::uint8_t b : bytes) {
        std::snprintf(digits, sizeof digits, "%02x", b);
        text += digits;
    }
    return text;
}

std::string outcomeSuffix(const Record& record)
{
    switch (record.outcome) {
    case Outcome::Completed: return "";
    case Outcome::Hung: return " hung";
    case Outcome::Failed: return " status=" + std::to_string(record.status);
    }
    return "";
}

}  // namespace

std::string describe(const Record& record)
{
    char head[64];
    if (record.kind == Record::Kind::Control) {
        const SetupPacket& s = record.setup;
        std::snprintf(head, sizeof head, "CTRL %02x %02x %04x %04x %04x", s.bmRequestType, s.bRequest,
                      s.wValue, s.wIndex, s.wLength);
    } else {
        std::snprintf(head, sizeof head, "OUT %02x", record.endpoint);
    }
    std::string text = head;
    if (!record.data.empty())
        text += " " + hex(record.data);
    return text + outcomeSuffix(record);
}

}  // namespace nsemu
