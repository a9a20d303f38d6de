// A minimal walk over a HID report descriptor for the coordinate ranges and the tip
// pressure. It keeps one current usage page and usage instead of the full HID parser
// state, and understands only the items it needs.
#include "USBDevice.h"

namespace nativesupport {

namespace {
const uint32_t kGenericDesktop = 0x01;
const uint32_t kDigitizers = 0x0D;
const uint32_t kUsageX = 0x30;        // also Tip Pressure on the Digitizers page
const uint32_t kUsageY = 0x31;

enum ItemKey : unsigned {
    kUsagePage = 0x04,
    kUsage = 0x08,
    kLogicalMaximum = 0x24,
    kPhysicalMinimum = 0x34,
    kPhysicalMaximum = 0x44,
    kUnitExponent = 0x54,
};
}

void USBDevice::parse_Report_Data(char* descriptor, int length)
{
    if (length < 1)
        return;
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(descriptor);
    uint32_t usagePage = 0xFFFF;
    uint32_t usage = 0xFFFF;
    int position = 0;
    while (position < length) {
        const unsigned prefix = bytes[position++];
        const unsigned sizeCode = prefix & 0x03;
        const unsigned key = prefix & 0xFC;
        const int dataBytes = sizeCode == 3 ? 4 : static_cast<int>(sizeCode);
        uint32_t value = 0;
        for (int i = 0; i < dataBytes; ++i, ++position) {
            if (position < length)
                value |= static_cast<uint32_t>(bytes[position]) << (8 * i);
        }
        const int32_t data = static_cast<int32_t>(value);
        switch (key) {
        case kUsagePage:
            usagePage = value;
            break;
        case kUsage:
            usage = value;
            break;
        case kUnitExponent:
            if (value == 0x0D) {
                usagePage = kGenericDesktop;
                usage = kUsageX;
            }
            break;
        case kLogicalMaximum:
        case kPhysicalMinimum:
        case kPhysicalMaximum:
            if (usagePage == kGenericDesktop && usage == kUsageX) {
                if (key == kPhysicalMinimum)
                    m_minX = data;
                else if (m_maxX == 0)
                    m_maxX = data;
            } else if (usagePage == kGenericDesktop && usage == kUsageY) {
                if (key == kPhysicalMinimum)
                    m_minY = data;
                else if (m_maxY == 0)
                    m_maxY = data;
            } else if (usagePage == kDigitizers && usage == kUsageX && key == kPhysicalMaximum) {
                m_maxPressure = data;
            }
            break;
        default:
            break;
        }
    }
}

} // namespace nativesupport
