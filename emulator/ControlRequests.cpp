#include "ControlRequests.h"

namespace nsemu {

namespace {

constexpr std::uint8_t kGetStatus = 0x00;
constexpr std::uint8_t kClearFeature = 0x01;
constexpr std::uint8_t kSetFeature = 0x03;
constexpr std::uint8_t kGetDescriptor = 0x06;
constexpr std::uint8_t kGetConfiguration = 0x08;
constexpr std::uint8_t kSetConfiguration = 0x09;
constexpr std::uint8_t kGetInterface = 0x0a;
constexpr std::uint8_t kSetInterface = 0x0b;

std::optional<Bytes> deviceLevelDescriptor(const DeviceDescription& model, std::uint16_t wValue)
{
    const std::uint8_t type = wValue >> 8;
    const std::uint8_t index = wValue & 0xff;
    switch (type) {
    case 0x01: return deviceDescriptor(model);
    case 0x02: return index == 0 ? std::optional<Bytes>(configurationDescriptor(model)) : std::nullopt;
    case 0x03: return stringDescriptor(model, index);
    default: return std::nullopt;
    }
}

std::optional<Bytes> interfaceLevelDescriptor(const DeviceDescription& model, std::uint16_t wValue)
{
    if (model.bInterfaceClass != 3)
        return std::nullopt;
    if (wValue == 0x2100)
        return hidDescriptor(model);
    if (wValue == 0x2200)
        return model.reportDescriptor;
    return std::nullopt;
}

std::optional<ControlAnswer> standardRequest(const DeviceDescription& model, const SetupPacket& s)
{
    auto answer = [](std::optional<Bytes> data) {
        return data ? ControlAnswer::withData(std::move(*data)) : ControlAnswer::stalled();
    };
    switch (s.bmRequestType) {
    case 0x80:
        if (s.bRequest == kGetDescriptor) return answer(deviceLevelDescriptor(model, s.wValue));
        if (s.bRequest == kGetConfiguration) return ControlAnswer::withData({1});
        if (s.bRequest == kGetStatus) return ControlAnswer::withData({0, 0});
        break;
    case 0x81:
        if (s.bRequest == kGetDescriptor) return answer(interfaceLevelDescriptor(model, s.wValue));
        if (s.bRequest == kGetInterface) return ControlAnswer::withData({0});
        if (s.bRequest == kGetStatus) return ControlAnswer::withData({0, 0});
        break;
    case 0x82:
        if (s.bRequest == kGetStatus) return ControlAnswer::withData({0, 0});
        break;
    case 0x00:
        if (s.bRequest == kSetConfiguration) return s.wValue <= 1 ? ControlAnswer::ack() : ControlAnswer::stalled();
        if (s.bRequest == kSetFeature || s.bRequest == kClearFeature) return ControlAnswer::ack();
        break;
    case 0x01:
        if (s.bRequest == kSetInterface) return s.wValue == 0 ? ControlAnswer::ack() : ControlAnswer::stalled();
        break;
    case 0x02:
        if (s.bRequest == kClearFeature || s.bRequest == kSetFeature) return ControlAnswer::ack();
        break;
    default:
        break;
    }
    return std::nullopt;
}

ControlAnswer fallback(const SetupPacket& s)
{
    const bool standard = (s.bmRequestType & 0x60) == 0;
    if (s.isIn() || standard)
        return ControlAnswer::stalled();
    return ControlAnswer::ack();
}

}  // namespace

ControlAnswer answerControl(const DeviceDescription& model, const SetupPacket& setup, const Bytes& outData)
{
    std::optional<ControlAnswer> answer;
    if (model.responder)
        answer = model.responder->onControl(setup, outData);
    if (!answer)
        answer = standardRequest(model, setup);
    if (!answer)
        answer = fallback(setup);
    if (answer->data.size() > setup.wLength)
        answer->data.resize(setup.wLength);
    return *answer;
}

}  // namespace nsemu
