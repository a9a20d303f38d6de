// Construction, destruction and the accessors of USBDevice.
#include "USBDevice.h"

#include "NativeSupport.h"

USBDevice::USBDevice()
    : m_reportLength(0),
      m_queuedReports(0),
      m_readThreadRunning(false),
      m_usb_handle(nullptr),
      m_vid(0),
      m_pid(0),
      m_maxX(0),
      m_maxY(0),
      m_minX(0),
      m_minY(0),
      m_maxPressure(0),
      m_iSerialNumber(0),
      m_iManufacturer(0),
      m_iProduct(0),
      m_iInterface(0),
      m_outReportLength(0),
      m_readThread(),
      m_readThreadStarted(false),
      m_inStopping(false),
      m_inCompleted(0),
      m_holdsDefaultContext(false),
      m_leases(0),
      m_retiring(false)
{
    registerUSBDevice(this);
    pthread_mutex_init(&m_queueMutex, nullptr);
}

USBDevice::~USBDevice()
{
    // Whoever deletes a device closes it first, which stops and joins the read thread;
    // this is the last safety net for an object deleted while still open.
    closeDeviceLocked();
    clearQueue();
    pthread_mutex_destroy(&m_queueMutex);
    unregisterUSBDevice(this);
}

int16_t USBDevice::getVID()
{
    std::shared_lock<std::shared_mutex> lock(m_stateLock);
    return m_vid;
}

int16_t USBDevice::getPID()
{
    std::shared_lock<std::shared_mutex> lock(m_stateLock);
    return m_pid;
}

int32_t USBDevice::GetMaxX()
{
    std::shared_lock<std::shared_mutex> lock(m_stateLock);
    return m_maxX;
}

int32_t USBDevice::GetMaxY()
{
    std::shared_lock<std::shared_mutex> lock(m_stateLock);
    return m_maxY;
}

std::string USBDevice::GetSerialNumber()
{
    std::shared_lock<std::shared_mutex> lock(m_stateLock);
    return m_serialNumber;
}

std::string USBDevice::GetFirmwareVersion()
{
    std::shared_lock<std::shared_mutex> lock(m_stateLock);
    return m_firmwareVersion;
}

std::string USBDevice::GetProductName()
{
    std::shared_lock<std::shared_mutex> lock(m_stateLock);
    return m_productName;
}

std::string USBDevice::getManufacturer()
{
    std::shared_lock<std::shared_mutex> lock(m_stateLock);
    return m_manufacturer;
}

int USBDevice::get_Out_Endpoint()
{
    const uint16_t pid = static_cast<uint16_t>(m_pid);
    if (static_cast<uint16_t>(m_vid) == 0x078c && pid >= 0x0700 && pid <= 0x0702)
        return 2;
    return 1;
}
