#include "Descriptors.h"

#include <algorithm>

namespace nsemu {

namespace {

constexpr std::uint8_t kInEndpoint = 0x81;
constexpr std::uint8_t kDfuClass = 0xfe;

void put16(Bytes& out, std::uint16_t value)
{
    out.push_back(value & 0xff);
    out.push_back(value >> 8);
}

const std::string* stringAt(const DeviceDescription& model, std::uint8_t index)
{
    const std::string* ordered[] = {&model.manufacturer, &model.product, &model.serialNumber,
                                    &model.interfaceString};
    std::uint8_t next = 1;
    for (const std::string* s : ordered) {
        if (s->empty())
            continue;
        if (next++ == index)
            return s;
    }
    return nullptr;
}

void appendEndpoint(Bytes& out, std::uint8_t address, std::uint16_t packetSize, std::uint8_t interval)
{
    out.insert(out.end(), {7, 0x05, address, 0x03});  // interrupt transfer type
    put16(out, packetSize);
    out.push_back(interval);
}

// DFU functional descriptor: will-detach, manifestation tolerant, can
// download and upload; 1024-byte transfers; DFU 1.1a.
void appendDfuFunctional(Bytes& out)
{
    out.insert(out.end(), {9, 0x21, 0x0f});
    put16(out, 255);   // wDetachTimeOut
    put16(out, 1024);  // wTransferSize
    put16(out, 0x011a);
}

int endpointCount(const DeviceDescription& model)
{
    return (model.inPacketSize ? 1 : 0) + (model.outEndpoint ? 1 : 0);
}

}  // namespace

StringIndexes stringIndexes(const DeviceDescription& model)
{
    StringIndexes idx;
    std::uint8_t next = 1;
    if (!model.manufacturer.empty()) idx.manufacturer = next++;
    if (!model.product.empty()) idx.product = next++;
    if (!model.serialNumber.empty()) idx.serialNumber = next++;
    if (!model.interfaceString.empty()) idx.interface = next++;
    return idx;
}

Bytes deviceDescriptor(const DeviceDescription& model)
{
    const StringIndexes idx = stringIndexes(model);
    Bytes out{18, 0x01};
    put16(out, model.bcdUSB);
    out.insert(out.end(), {model.bDeviceClass, model.bDeviceSubClass, model.bDeviceProtocol, model.bMaxPacketSize0});
    put16(out, model.idVendor);
    put16(out, model.idProduct);
    put16(out, model.bcdDevice);
    out.insert(out.end(), {idx.manufacturer, idx.product, idx.serialNumber, 1});
    return out;
}

Bytes hidDescriptor(const DeviceDescription& model)
{
    Bytes out{9, 0x21};
    put16(out, 0x0111);  // HID 1.11
    out.insert(out.end(), {0, 1, 0x22});
    put16(out, static_cast<std::uint16_t>(model.reportDescriptor.size()));
    return out;
}

Bytes configurationDescriptor(const DeviceDescription& model)
{
    Bytes body{9, 0x04, 0, 0, static_cast<std::uint8_t>(endpointCount(model)), model.bInterfaceClass,
               model.bInterfaceSubClass, model.bInterfaceProtocol, stringIndexes(model).interface};
    if (model.bInterfaceClass == 3) {
        Bytes hid = hidDescriptor(model);
        body.insert(body.end(), hid.begin(), hid.end());
    } else if (model.bInterfaceClass == kDfuClass) {
        appendDfuFunctional(body);
    }
    if (model.inPacketSize)
        appendEndpoint(body, kInEndpoint, model.inPacketSize, model.inInterval);
    if (model.outEndpoint)
        appendEndpoint(body, model.outEndpoint, model.outPacketSize, model.outInterval);

    Bytes out{9, 0x02};
    put16(out, static_cast<std::uint16_t>(9 + body.size()));
    out.insert(out.end(), {1, 1, 0, model.bmAttributes, model.bMaxPower});
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

std::optional<Bytes> stringDescriptor(const DeviceDescription& model, std::uint8_t index)
{
    if (index == 0) {
        Bytes out{4, 0x03};
        put16(out, kLanguageId);
        return out;
    }
    const std::string* text = stringAt(model, index);
    if (!text)
        return std::nullopt;
    Bytes out{0, 0x03};
    for (unsigned char c : *text)  // the models' strings are ASCII
        put16(out, c);
    out[0] = static_cast<std::uint8_t>(out.size());
    return out;
}

Bytes sysfsDescriptors(const DeviceDescription& model)
{
    Bytes out = deviceDescriptor(model);
    Bytes config = configurationDescriptor(model);
    out.insert(out.end(), config.begin(), config.end());
    return out;
}

bool hasEndpoint(const DeviceDescription& model, std::uint8_t endpoint)
{
    return (endpoint == kInEndpoint && model.inPacketSize) || (endpoint != 0 && endpoint == model.outEndpoint);
}

std::chrono::microseconds inPollInterval(const DeviceDescription& model)
{
    if (model.speed == "480")
        return std::chrono::microseconds(125 << (std::clamp<int>(model.inInterval, 1, 16) - 1));
    return std::chrono::milliseconds(std::max<int>(model.inInterval, 1));
}

}  // namespace nsemu
