// Description of one emulated USB device: what the host sees in sysfs and
// over the control pipe. Plain data; models (Models.h) fill it in.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace nsemu {

class Responder;

struct DeviceDescription {
    // Topology. The device node is /dev/bus/usb/<bus>/<address>.
    int busNumber = 1;
    int deviceAddress = 2;

    // Device descriptor.
    std::uint16_t idVendor = 0;
    std::uint16_t idProduct = 0;
    std::uint8_t bDeviceClass = 0;
    std::uint8_t bDeviceSubClass = 0;
    std::uint8_t bDeviceProtocol = 0;
    std::uint16_t bcdDevice = 0x0100;
    std::uint16_t bcdUSB = 0x0200;
    std::uint8_t bMaxPacketSize0 = 64;
    std::string manufacturer;  // empty: iManufacturer = 0
    std::string product;       // empty: iProduct = 0
    std::string serialNumber;  // empty: iSerialNumber = 0

    // The single configuration (value 1) with interface 0.
    std::uint8_t bInterfaceClass = 3;  // HID
    std::uint8_t bInterfaceSubClass = 0;
    std::uint8_t bInterfaceProtocol = 0;
    std::string interfaceString;  // empty: iInterface = 0
    std::uint8_t bmAttributes = 0x80;
    std::uint8_t bMaxPower = 50;  // in 2 mA units

    // Interrupt IN endpoint 0x81; 0 leaves the interface without it.
    std::uint16_t inPacketSize = 8;
    std::uint8_t inInterval = 4;
    // Interrupt OUT endpoint address (0x01 or 0x02); 0 means none.
    std::uint8_t outEndpoint = 0;
    std::uint16_t outPacketSize = 8;
    std::uint8_t outInterval = 4;

    // HID report descriptor, answered for GET_DESCRIPTOR 0x81/0x2200.
    std::vector<std::uint8_t> reportDescriptor;

    // Whether "usbhid" is bound to interface 0 when the device appears.
    bool kernelDriverBound = false;

    // Port speed in Mbit/s as sysfs reports it ("1.5", "12", "480").
    std::string speed = "12";

    // Optional behaviour for class and vendor requests; shared so that a
    // test can keep reconfiguring it while the device is plugged.
    std::shared_ptr<Responder> responder;
};

}  // namespace nsemu
