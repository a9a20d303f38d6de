// Standard USB descriptors of a DeviceDescription, byte for byte as the device
// sends them (little endian).
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

#include "DeviceDescription.h"

namespace nsemu {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint16_t kLanguageId = 0x0409;

// String indexes are assigned in this order to the non-empty strings.
struct StringIndexes {
    std::uint8_t manufacturer = 0;
    std::uint8_t product = 0;
    std::uint8_t serialNumber = 0;
    std::uint8_t interface = 0;
};

StringIndexes stringIndexes(const DeviceDescription& model);
Bytes deviceDescriptor(const DeviceDescription& model);
Bytes configurationDescriptor(const DeviceDescription& model);  // with interface, class and endpoint descriptors
Bytes hidDescriptor(const DeviceDescription& model);
// Index 0 is the language list; std::nullopt for an unknown index.
std::optional<Bytes> stringDescriptor(const DeviceDescription& model, std::uint8_t index);
// Device descriptor followed by the configuration: the sysfs "descriptors" file.
Bytes sysfsDescriptors(const DeviceDescription& model);

bool hasEndpoint(const DeviceDescription& model, std::uint8_t endpoint);
// How often the host polls the interrupt IN endpoint: bInterval frames at low
// and full speed, 2^(bInterval-1) microframes at high speed.
std::chrono::microseconds inPollInterval(const DeviceDescription& model);

}  // namespace nsemu
