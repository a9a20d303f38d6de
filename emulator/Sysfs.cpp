#include "Sysfs.h"

#include <cstdio>

#include "Descriptors.h"

namespace nsemu {

namespace {

std::string format(const char* fmt, int a, int b = 0, int c = 0)
{
    char text[128];
    std::snprintf(text, sizeof text, fmt, a, b, c);
    return text;
}

std::string hexUpper(const Bytes& bytes)
{
    std::string text;
    for (std::uint8_t b : bytes)
        text += format("%02X", b);
    return text;
}

std::string attribute(const std::string& name, const std::string& value)
{
    return "A: " + name + "=" + value + "\\n\n";  // sysfs values end in a newline
}

std::string property(const std::string& name, const std::string& value)
{
    return "E: " + name + "=" + value + "\n";
}

std::string properties(const DeviceDescription& s)
{
    return property("SUBSYSTEM", "usb") + property("DEVTYPE", "usb_device") + property("DRIVER", "usb") +
           property("DEVNAME", deviceNode(s)) + property("BUSNUM", format("%03d", s.busNumber)) +
           property("DEVNUM", format("%03d", s.deviceAddress)) + property("MAJOR", "189") +
           property("MINOR", format("%d", (s.busNumber - 1) * 128 + s.deviceAddress - 1)) +
           property("PRODUCT", format("%x/%x/%x", s.idVendor, s.idProduct, s.bcdDevice)) +
           property("TYPE", format("%d/%d/%d", s.bDeviceClass, s.bDeviceSubClass, s.bDeviceProtocol)) +
           property("ID_BUS", "usb") + property("ID_VENDOR_ID", format("%04x", s.idVendor)) +
           property("ID_MODEL_ID", format("%04x", s.idProduct)) +
           property("ID_USB_INTERFACES",
                    format(":%02x%02x%02x:", s.bInterfaceClass, s.bInterfaceSubClass, s.bInterfaceProtocol));
}

std::string stringAttributes(const DeviceDescription& s)
{
    std::string text;
    if (!s.manufacturer.empty()) text += attribute("manufacturer", s.manufacturer);
    if (!s.product.empty()) text += attribute("product", s.product);
    if (!s.serialNumber.empty()) text += attribute("serial", s.serialNumber);
    return text;
}

std::string attributes(const DeviceDescription& s)
{
    return attribute("idVendor", format("%04x", s.idVendor)) + attribute("idProduct", format("%04x", s.idProduct)) +
           attribute("bcdDevice", format("%04x", s.bcdDevice)) +
           attribute("bDeviceClass", format("%02x", s.bDeviceClass)) +
           attribute("bDeviceSubClass", format("%02x", s.bDeviceSubClass)) +
           attribute("bDeviceProtocol", format("%02x", s.bDeviceProtocol)) +
           attribute("bMaxPacketSize0", format("%d", s.bMaxPacketSize0)) +
           attribute("bNumConfigurations", "1") + attribute("bConfigurationValue", "1") +
           attribute("bNumInterfaces", " 1") + attribute("bmAttributes", format("%02x", s.bmAttributes)) +
           attribute("busnum", format("%d", s.busNumber)) + attribute("devnum", format("%d", s.deviceAddress)) +
           attribute("devpath", format("%d", s.deviceAddress)) + attribute("speed", s.speed) +
           attribute("version", format("%2x.%02x", s.bcdUSB >> 8, s.bcdUSB & 0xff)) +
           attribute("maxchild", "0") + stringAttributes(s);
}

}  // namespace

std::string devicePath(const DeviceDescription& s)
{
    return format("/sys/devices/nsemu/b%03d/a%03d/", s.busNumber, s.deviceAddress) +
           format("%d-%d", s.busNumber, s.deviceAddress);
}

std::string deviceNode(const DeviceDescription& s)
{
    return format("/dev/bus/usb/%03d/%03d", s.busNumber, s.deviceAddress);
}

std::string deviceRecord(const DeviceDescription& s)
{
    return "P: " + devicePath(s).substr(4) + "\n" + properties(s) + attributes(s) +
           "H: descriptors=" + hexUpper(sysfsDescriptors(s)) + "\n";
}

std::string deviceIdPath(const DeviceDescription& s)
{
    char text[32];
    std::snprintf(text, sizeof text, "%03i/%03i-%04x-%04x-%02x-%02x", s.busNumber, s.deviceAddress, s.idVendor,
                  s.idProduct, s.bDeviceClass, s.bDeviceSubClass);
    return text;
}

}  // namespace nsemu
