// Device-specific answers to control requests. Called on the emulator's
// ioctl thread with the device lock held: answer at once, never block.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "Records.h"

namespace nsemu {

struct ControlAnswer {
    bool stall = false;
    std::vector<std::uint8_t> data;  // IN data; ignored for OUT requests

    static ControlAnswer ack() { return {}; }
    static ControlAnswer stalled() { return {true, {}}; }
    static ControlAnswer withData(std::vector<std::uint8_t> bytes) { return {false, std::move(bytes)}; }
};

class Responder {
public:
    virtual ~Responder() = default;
    // std::nullopt leaves the request to the device's standard handling.
    virtual std::optional<ControlAnswer> onControl(const SetupPacket& setup,
                                                   const std::vector<std::uint8_t>& outData) = 0;
};

}  // namespace nsemu
