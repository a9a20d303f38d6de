// Walks report descriptors of every length the device can send: the whole input and each
// shorter prefix of it, each from a heap buffer of exactly that many bytes, so that a read
// one byte past the end is caught. The ranges found must not depend on what lies behind
// the length given.
#include "USBDevice.h"

using nativesupport::USBDevice;

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {
const size_t kLongestDescriptor = 256;

struct Ranges {
    int32_t minX, minY, maxX, maxY, maxPressure;
    bool operator==(const Ranges& o) const
    {
        return minX == o.minX && minY == o.minY && maxX == o.maxX && maxY == o.maxY && maxPressure == o.maxPressure;
    }
};

Ranges walk(const uint8_t* data, size_t length, char padding)
{
    // One spare byte behind the descriptor when padding is asked for, zero otherwise.
    const size_t allocated = padding != 0 ? length + 1 : length;
    std::unique_ptr<char[]> buffer(new char[allocated]);
    if (length > 0)
        std::memcpy(buffer.get(), data, length);
    if (allocated > length)
        buffer[length] = padding;
    USBDevice device;
    device.parse_Report_Data(buffer.get(), static_cast<int>(length));
    return Ranges{device.getMinX(), device.getMinY(), device.GetMaxX(), device.GetMaxY(), device.getMaxPressure()};
}
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const size_t longest = size < kLongestDescriptor ? size : kLongestDescriptor;
    for (size_t length = 0; length <= longest; ++length) {
        const Ranges exact = walk(data, length, 0);
        if (!(exact == walk(data, length, static_cast<char>(0x26))))
            std::abort();   // a byte behind the length changed the result
    }
    return 0;
}
