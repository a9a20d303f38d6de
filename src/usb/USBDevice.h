#pragma once
#include <jni.h>
#include <libusb-1.0/libusb.h>
#include <pthread.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <queue>
#include <shared_mutex>
#include <string>

// One Java NativeUSB connection: the attached HID device it has opened, what the device
// said about itself, and the input reports received but not yet fetched.
//
// Locking: m_queueMutex guards the report queue only. m_stateLock keeps the device's
// state steady for one call: opening and closing hold it exclusively, transfers and
// accessors share it. The read thread takes neither lock while it waits in a transfer;
// closing cancels that transfer and joins the thread before the handle goes away.
class USBDevice {
public:
    USBDevice();
    virtual ~USBDevice();

    USBDevice(const USBDevice&) = delete;
    USBDevice& operator=(const USBDevice&) = delete;

    // Identity and ranges of the device last opened.
    int16_t getVID();
    int16_t getPID();
    int32_t GetMaxX();
    int32_t GetMaxY();
    std::string GetSerialNumber();
    std::string GetFirmwareVersion();
    std::string GetProductName();
    int get_Out_Endpoint();
    int32_t getReportLength() const { return m_reportLength; }

    bool open_Device(std::string devicePath);
    void close_Device();
    void clearQueue();

    // Input path.
    static void* readThreadLoop(void* arg);
    int read_Device(char* buffer, int length, long timeout);
    size_t queuedReports() const { return m_queuedReports.load(std::memory_order_relaxed); }

    // Output path.
    bool write_Device(char* data, int length, long timeout);

    // Control pipe.
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

    int32_t getMinX() const { return m_minX; }
    int32_t getMinY() const { return m_minY; }
    int32_t getMaxPressure() const { return m_maxPressure; }
    std::string getManufacturer();
    bool isReadThreadRunning() const { return m_readThreadStarted && m_readThreadRunning; }

private:
    friend class USBDeviceLease;
    friend bool destroyUSBDevice(jlong handle);
    friend long queuedReportsOf(jlong handle);

    void get_Device_Info();
    void closeDeviceLocked();
    void startReadThread();
    void stopReadThread();
    void readLoop();
    struct InSlot;
    static void LIBUSB_CALL inTransferDone(libusb_transfer* transfer);
    void appendReport(char* report);
    bool submitIn(InSlot& slot);
    void finishIn(InSlot& slot);
    void stopAllIn();
    bool openDeviceLocked(const std::string& devicePath);
    bool isDeviceGone(const char* nullLine, const char* goneLine);
    bool dfuSimpleRequest(uint8_t request, const char* nullLine, const char* goneLine,
                          const char* failedLine, const char* succeededLine);
    void holdDefaultContext();
    void dropDefaultContext();

    std::atomic<int32_t> m_reportLength;
    std::queue<char*> m_reportQueue;
    pthread_mutex_t m_queueMutex;
    std::atomic<size_t> m_queuedReports;   // m_reportQueue's size, written under m_queueMutex
    std::atomic<bool> m_readThreadRunning;
    libusb_device_handle* m_usb_handle;
    int16_t m_vid;
    int16_t m_pid;
    std::string m_productName;
    std::string m_manufacturer;
    std::string m_serialNumber;
    std::string m_firmwareVersion;
    int32_t m_maxX;
    int32_t m_maxY;
    int32_t m_minX;
    int32_t m_minY;
    int32_t m_maxPressure;
    uint16_t m_iSerialNumber;
    uint16_t m_iManufacturer;
    uint16_t m_iProduct;
    uint16_t m_iInterface;
    int32_t m_outReportLength;
    pthread_t m_readThread;

    // Not part of the device's description: how this object keeps its threads and its
    // libusb context in order.
    std::shared_mutex m_stateLock;
    bool m_readThreadStarted;
    // The interrupt IN transfers the read thread keeps pending, so that the endpoint is
    // never left without one while a completed report is being handled.
    static constexpr int kInTransfers = 4;
    struct InSlot {
        USBDevice* device = nullptr;
        libusb_transfer* transfer = nullptr;
        char* buffer = nullptr;   // the report buffer while the read thread owns it
        int bit = 0;              // this slot's mark in m_inCompleted
        bool queued = false;      // the callback gave the buffer to the queue
        bool submitted = false;   // guarded by m_inMutex
    };
    std::mutex m_inMutex;               // guards m_readThreadRunning's clearing and the slots' submitted flags
    InSlot m_inSlots[kInTransfers];
    bool m_inStopping;                  // read thread only: a stop code ended the reading
    int m_inCompleted;                  // the slots whose transfer completed, marked by their callbacks (atomic builtins)
    bool m_holdsDefaultContext;
    // The registry's bookkeeping (NativeSupport.cpp): native calls under way on this
    // object, and whether its destroy has begun.
    std::atomic<int> m_leases;
    std::atomic<bool> m_retiring;
};
