#pragma once
#include "AddressQuarantine.h"
#include "LibUsbScope.h"
#include "ReportStream.h"

#include <libusb-1.0/libusb.h>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string>

namespace nativesupport {

// One Java NativeUSB connection: the attached HID device it has opened, what the device
// said about itself, and the input reports received but not yet fetched.
//
// Threads and locks. Opening and closing take turns on m_openMutex. The device's identity
// (ids, strings, ranges) is written while a device is opened, in short steps, and read by
// the accessors at any time: the numbers are atomic, the strings are guarded by
// m_infoMutex; an accessor never waits for an open. m_usb_handle is published once the
// device is ready and withdrawn by closing, both under m_stateLock held exclusively for a
// moment; transfers hold it shared while they use the handle. The input side is a
// ReportStream, made when the device has opened and published in m_stream; a poll reads it
// without a lock. Closing stops it, which waits until none of its transfers is pending,
// before the handle goes away, and deletes it with the reports still queued. The order of
// all the library's locks is in LockOrder.h.
class USBDevice {
public:
    USBDevice();
    virtual ~USBDevice();

    USBDevice(const USBDevice&) = delete;
    USBDevice& operator=(const USBDevice&) = delete;

    // A released instance's address is not given to a new one soon after, so that a stale
    // handle names no other instance.
    static void* operator new(std::size_t size) { return quarantineOf<USBDevice>().allocate(size); }
    static void operator delete(void* p, std::size_t size) noexcept { quarantineOf<USBDevice>().release(p, size); }

    // Identity and ranges of the device last opened.
    int16_t getVID() const { return m_vid; }
    int16_t getPID() const { return m_pid; }
    int32_t GetMaxX() const { return m_maxX; }
    int32_t GetMaxY() const { return m_maxY; }
    std::string GetSerialNumber() const;
    std::string GetFirmwareVersion() const;
    std::string GetProductName() const;
    int get_Out_Endpoint() const;
    int32_t getReportLength() const { return m_reportLength; }

    // The rest of what the report descriptor walk finds; nothing in the library reads them.
    int32_t getMinX() const { return m_minX; }
    int32_t getMinY() const { return m_minY; }
    int32_t getMaxPressure() const { return m_maxPressure; }

    // Opens the attached device that `devicePath` names; every call ends with a pause of
    // one second. Closing is safe on a device that is not open.
    bool open_Device(std::string devicePath);
    void close_Device();
    void clearQueue();

    // Input path. read_Device copies the oldest queued report into `buffer` (at most
    // `length` bytes) and returns how many bytes it copied, or 0; it never waits, and
    // `timeout` is not used. A report is at most kMaxReportLength bytes.
    static constexpr int kMaxReportLength = 0x7ff;
    int read_Device(char* buffer, int length, long timeout);

    // Output path.
    bool write_Device(char* data, int length, long timeout);

    // Control pipe. get_HIDReport and set_HIDReport read and write feature report 2 for
    // callers of the library's C++ API; nothing in the library itself calls them.
    bool writeToControlTransfer(char* data, int size);
    int get_HIDReport(char* buffer, int length, long timeout);
    int set_HIDReport(char* buffer, int length, long timeout);

    // Firmware update requests.
    bool dfuDetach();
    bool dfuDownload(int blockNumber, char* data, int length);
    int dfuGetStatus(char* status);
    int dfuGetState(char* state);
    bool dfuClearStatus();
    bool dfuAbort();

    // Report descriptor walk (coordinate ranges, pressure).
    void parse_Report_Data(char* descriptor, int length);

private:
    bool openDevice(const std::string& devicePath);
    void get_Device_Info(libusb_device_handle* handle);
    void setString(std::string& field, const std::string& value);
    void closeHandle(libusb_device_handle* handle);
    void publishHandle(libusb_device_handle* handle);

    void startReading(libusb_device_handle* handle);
    void stopReading();

    bool isDeviceGone(libusb_device_handle* handle, const char* nullLine, const char* goneLine);
    bool dfuSimpleRequest(uint8_t request, const char* nullLine, const char* goneLine, const char* failedLine,
                          const char* succeededLine);

    std::atomic<int32_t> m_reportLength;
    std::atomic<ReportStream*> m_stream;
    libusb_device_handle* m_usb_handle;
    std::atomic<int16_t> m_vid;
    std::atomic<int16_t> m_pid;
    std::string m_productName;
    std::string m_manufacturer;
    std::string m_serialNumber;
    std::string m_firmwareVersion;
    std::atomic<int32_t> m_maxX;
    std::atomic<int32_t> m_maxY;
    std::atomic<int32_t> m_minX;
    std::atomic<int32_t> m_minY;
    std::atomic<int32_t> m_maxPressure;
    uint16_t m_iSerialNumber;
    uint16_t m_iManufacturer;
    uint16_t m_iProduct;
    uint16_t m_iInterface;
    std::atomic<int32_t> m_outReportLength;

    // Not part of the device's description: how this object keeps its threads, its locks
    // and its libusb context in order.
    std::mutex m_openMutex;
    mutable std::mutex m_infoMutex;
    std::shared_mutex m_stateLock;
    std::unique_ptr<LibUsbContext> m_context;   // held while a device is open
};

} // namespace nativesupport
