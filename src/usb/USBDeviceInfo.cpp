// What a freshly opened device tells about itself: its strings, its coordinate range from
// the HID report descriptor, and the vendor-specific start-up.
#include "SyncTransfer.h"
#include "USBDevice.h"

#include <syslog.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace nativesupport {

namespace {
const int kScratchSize = 256;
const unsigned int kStartupTimeout = 5;       // ms, for each start-up request
const unsigned int kDescriptorTimeout = 5000; // ms
const useconds_t kStartupPause = 50000;       // after each start-up command

const unsigned char arAPTCommand1[3] = {0x02, 0x02, 0x00};
const unsigned char arAPTCommand2[3] = {0x02, 0x18, 0x04};
const unsigned char arAPTCommand3[3] = {0x02, 0x03, 0x00};
const unsigned char arAPTCommand4[3] = {0x02, 0x04, 0x00};
const unsigned char arAPTCommand5[3] = {0x02, 0x01, 0x00};
const unsigned char arAPTCommand6[3] = {0x02, 0x01, 0x01};
const unsigned char arAPTCommand7[3] = {0x02, 0x08, 0x00};
const unsigned char arAPTCommand8[3] = {0x02, 0x10, 0x01};
const unsigned char arAPTCommand9[3] = {0x02, 0x18, 0x04};

void writeStartupCommand(libusb_device_handle* handle, const unsigned char* command)
{
    unsigned char report[3] = {command[0], command[1], command[2]};
    controlTransfer(handle, 0x21, 9, 0x0302, 0, report, sizeof report, kStartupTimeout);
    usleep(kStartupPause);
}

// The 16-bit value of a start-up answer (bytes 1 and 2), or -1 when there is none.
int readStartupAnswer(libusb_device_handle* handle, unsigned char* scratch)
{
    std::memset(scratch, 0, kScratchSize);
    if (controlTransfer(handle, 0xA1, 1, 0x0302, 0, scratch, kScratchSize, kStartupTimeout) <= 0)
        return -1;
    return scratch[1] + 256 * scratch[2];
}

std::string readString(libusb_device_handle* handle, uint16_t index, unsigned char* scratch)
{
    std::memset(scratch, 0, kScratchSize);
    stringDescriptorAscii(handle, static_cast<uint8_t>(index), scratch, kScratchSize);
    scratch[kScratchSize - 1] = 0;
    return reinterpret_cast<const char*>(scratch);
}
}

// Runs on the connecting thread before the handle is published: every value is stored as
// soon as it is known, so the accessors answer with the values of the open in progress.
void USBDevice::get_Device_Info(libusb_device_handle* handle)
{
    unsigned char scratch[kScratchSize];

    if (m_iManufacturer != 0)
        setString(m_manufacturer, readString(handle, m_iManufacturer, scratch));
    if (m_iProduct != 0)
        setString(m_productName, readString(handle, m_iProduct, scratch));
    if (m_iInterface != 0)
        setString(m_firmwareVersion, readString(handle, m_iInterface, scratch));
    if (m_iSerialNumber != 0)
        setString(m_serialNumber, readString(handle, m_iSerialNumber, scratch));

    std::memset(scratch, 0, sizeof scratch);
    const int received = controlTransfer(handle, 0x81, LIBUSB_REQUEST_GET_DESCRIPTOR, 0x2200, 0, scratch,
                                         sizeof scratch, kDescriptorTimeout);
    if (received < 0) {
        syslog(LOG_DEBUG, "NATIVESUPPORT:  get_Device_Info() Retrieving Report descriptor Failed...");
    } else {
        parse_Report_Data(reinterpret_cast<char*>(scratch), received);
    }

    const uint16_t vid = static_cast<uint16_t>(m_vid);
    if (vid == 0x5543) {
        m_maxX = m_maxX * 2;
        m_maxY = m_maxY * 2;
    } else if (vid == 0x08ca || vid == 0x172f) {
        writeStartupCommand(handle, arAPTCommand1);
        writeStartupCommand(handle, arAPTCommand2);
        writeStartupCommand(handle, arAPTCommand3);
        writeStartupCommand(handle, arAPTCommand4);
        if (readStartupAnswer(handle, scratch) >= 0) {
            char version[16];
            snprintf(version, sizeof version, "%2.2d.%2.2d", scratch[2], scratch[1]);
            setString(m_firmwareVersion, version);
        }
        writeStartupCommand(handle, arAPTCommand5);
        const int maxX = readStartupAnswer(handle, scratch);
        if (maxX >= 0)
            m_maxX = maxX - 1;
        writeStartupCommand(handle, arAPTCommand6);
        const int maxY = readStartupAnswer(handle, scratch);
        if (maxY >= 0)
            m_maxY = maxY - 1;
        writeStartupCommand(handle, arAPTCommand7);
        writeStartupCommand(handle, arAPTCommand8);
        writeStartupCommand(handle, arAPTCommand9);
    }
}

} // namespace nativesupport
