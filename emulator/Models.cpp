#include "Models.h"

#include <functional>
#include <utility>

namespace nsemu {
namespace models {

namespace {

using Bytes = std::vector<std::uint8_t>;

// A short item; signed data uses the smallest size that keeps the sign.
void item(Bytes& d, std::uint8_t prefix, std::int32_t value)
{
    int size = (value >= -128 && value <= 127) ? 1 : (value >= -32768 && value <= 32767) ? 2 : 4;
    d.push_back(static_cast<std::uint8_t>(prefix | (size == 4 ? 3 : size)));
    for (int i = 0; i < size; ++i)
        d.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

void axis(Bytes& d, std::uint8_t usage, std::int32_t physicalMax, std::int32_t logicalMax)
{
    item(d, 0x08, usage);        // Usage
    item(d, 0x44, physicalMax);  // Physical Maximum
    item(d, 0x24, logicalMax);   // Logical Maximum
    d.insert(d.end(), {0x81, 0x02});
}

std::string vendorName(std::uint16_t vendor)
{
    switch (vendor) {
    case 0x078c: return "Calcomp";
    case 0x0483: return "STMicroelectronics";
    case 0x08ca: return "Aiptek";
    case 0x5543: return "UC-Logic";
    case 0x172f: return "Waltop";
    default: return "Generic";
    }
}

std::uint8_t outEndpointFor(std::uint16_t vendor, std::uint16_t product)
{
    return vendor == 0x078c && product >= 0x0700 && product <= 0x0702 ? 0x02 : 0x01;
}

using Factory = std::function<DeviceDescription(int, int)>;

const std::vector<std::pair<std::string, Factory>>& catalogue()
{
    static const std::vector<std::pair<std::string, Factory>> g_models = {
        {"digitizer", hidDigitizer},
        {"tablet-078c", [](int b, int a) { return tablet(0x078c, 0x0600, b, a); }},
        {"tablet-078c-out2", [](int b, int a) { return tablet(0x078c, 0x0700, b, a); }},
        {"tablet-0483", [](int b, int a) { return tablet(0x0483, 0x5710, b, a); }},
        {"tablet-08ca", [](int b, int a) { return tablet(0x08ca, 0x0010, b, a); }},
        {"tablet-5543", [](int b, int a) { return tablet(0x5543, 0x0064, b, a); }},
        {"tablet-172f", [](int b, int a) { return tablet(0x172f, 0x0031, b, a); }},
        {"tablet-040a", [](int b, int a) { return tablet(0x5543, 0x040a, b, a); }},
        {"tablet-dfu", dfuCapableTablet},
        {"dfu", [](int b, int a) { return dfu(false, b, a); }},
        {"dfu-vornique", [](int b, int a) { return dfu(true, b, a); }},
        {"dfu-vornique-5750",
         [](int b, int a) {
             DeviceDescription s = dfu(true, b, a);
             s.idProduct = 0x5750;
             return s;
         }},
        {"dfu-5543",   // a UC-Logic tablet in firmware update mode, without the marker
         [](int b, int a) {
             DeviceDescription s = dfu(false, b, a);
             s.idVendor = 0x5543;
             s.manufacturer = "UC-Logic";
             return s;
         }},
        {"camera-08ca",   // a supported vendor's device that is no tablet (video class)
         [](int b, int a) {
             DeviceDescription s = unsupported(b, a);
             s.idVendor = 0x08ca;
             s.idProduct = 0x2018;
             s.manufacturer = "Aiptek";
             s.product = "Pencam";
             s.bInterfaceClass = 0x0e;
             s.kernelDriverBound = false;
             return s;
         }},
        {"unsupported", unsupported},
        {"kernel-driver", [](int b, int a) { return withKernelDriver(tablet(0x5543, 0x0064, b, a)); }},
    };
    return g_models;
}

// Boot-protocol-like mouse: 3 buttons, 8-bit relative X and Y.
Bytes mouseReportDescriptor()
{
    return {0x05, 0x01, 0x09, 0x02, 0xa1, 0x01, 0x09, 0x01, 0xa1, 0x00, 0x05, 0x09, 0x19, 0x01, 0x29,
            0x03, 0x15, 0x00, 0x25, 0x01, 0x95, 0x03, 0x75, 0x01, 0x81, 0x02, 0x95, 0x01, 0x75, 0x05,
            0x81, 0x03, 0x05, 0x01, 0x09, 0x30, 0x09, 0x31, 0x15, 0x81, 0x25, 0x7f, 0x75, 0x08, 0x95,
            0x02, 0x81, 0x06, 0xc0, 0xc0};
}

}  // namespace

std::vector<std::uint8_t> penReportDescriptor(std::uint16_t maxX, std::uint16_t maxY, std::uint16_t maxPressure)
{
    Bytes d = {0x05, 0x0d, 0x09, 0x02, 0xa1, 0x01,  // Digitizer, Pen, Collection (Application)
               0x85, 0x02,                          // Report ID 2
               0x09, 0x20, 0xa1, 0x00,              // Stylus, Collection (Physical)
               0x09, 0x42, 0x09, 0x44, 0x09, 0x45,  // Tip Switch, Barrel Switch, Eraser
               0x09, 0x3c, 0x09, 0x32,              // Invert, In Range
               0x15, 0x00, 0x25, 0x01, 0x75, 0x01, 0x95, 0x05, 0x81, 0x02,
               0x95, 0x03, 0x81, 0x03,              // padding
               0x05, 0x01,                          // Generic Desktop
               0x75, 0x10, 0x95, 0x01,              // 16 bits each
               0x55, 0x0d, 0x65, 0x13,              // Unit Exponent -3, Unit inch
               0x35, 0x00, 0x15, 0x00};
    axis(d, 0x30, 10000, maxX);  // X, 10 inches
    axis(d, 0x31, 6250, maxY);   // Y, 6.25 inches
    d.insert(d.end(), {0x05, 0x0d, 0x55, 0x00, 0x65, 0x00, 0x45, 0x00});  // Digitizer, no unit
    item(d, 0x08, 0x30);                                                  // Tip Pressure
    item(d, 0x24, maxPressure);
    d.insert(d.end(), {0x81, 0x02, 0xc0, 0xc0});
    return d;
}

DeviceDescription hidDigitizer(int bus, int address)
{
    DeviceDescription s;
    s.busNumber = bus;
    s.deviceAddress = address;
    s.idVendor = 0x5543;
    s.idProduct = 0x0064;
    s.bcdDevice = 0x0100;
    s.manufacturer = "UC-Logic";
    s.product = "Pen Digitizer";
    s.serialNumber = "EMU0001";
    s.interfaceString = "Pen";
    s.bInterfaceSubClass = 0;
    s.bInterfaceProtocol = 0;
    s.inPacketSize = 8;
    s.reportDescriptor = penReportDescriptor(32767, 20000, 8191);
    return s;
}

DeviceDescription tablet(std::uint16_t vendor, std::uint16_t product, int bus, int address)
{
    DeviceDescription s = hidDigitizer(bus, address);
    s.idVendor = vendor;
    s.idProduct = product;
    s.manufacturer = vendorName(vendor);
    s.product = "Pen Tablet";
    s.inPacketSize = 64;
    s.outEndpoint = outEndpointFor(vendor, product);
    s.outPacketSize = product == 0x040a ? 9 : 8;
    if (vendor == 0x08ca || vendor == 0x172f)
        s.responder = std::make_shared<FeatureReportResponder>(kFirmwareVersion, kMaxXPlusOne, kMaxYPlusOne);
    return s;
}

DeviceDescription dfu(bool vorniqueMarker, int bus, int address)
{
    DeviceDescription s;
    s.busNumber = bus;
    s.deviceAddress = address;
    s.idVendor = 0x0483;
    s.idProduct = 0xdf11;
    s.bcdDevice = 0x2200;
    s.manufacturer = vorniqueMarker ? "VORNIQUE Tablets" : "STMicroelectronics";
    s.product = "DFU in FS Mode";
    s.serialNumber = "3277385F3133";
    s.interfaceString = "@Internal Flash  /0x08000000/64*02Kg";
    s.bInterfaceClass = 0xfe;
    s.bInterfaceSubClass = 0x01;
    s.bInterfaceProtocol = 0x02;
    s.inPacketSize = 0;
    s.responder = std::make_shared<DfuResponder>();
    return s;
}

DeviceDescription dfuCapableTablet(int bus, int address)
{
    DeviceDescription s = tablet(0x078c, 0x0600, bus, address);
    s.responder = std::make_shared<DfuRuntimeResponder>(dfu(true, bus, address));
    return s;
}

DeviceDescription unsupported(int bus, int address)
{
    DeviceDescription s;
    s.busNumber = bus;
    s.deviceAddress = address;
    s.idVendor = 0x046d;
    s.idProduct = 0xc52b;
    s.bcdDevice = 0x1211;
    s.manufacturer = "Logitech";
    s.product = "USB Receiver";
    s.bInterfaceSubClass = 1;
    s.bInterfaceProtocol = 2;
    s.inPacketSize = 8;
    s.reportDescriptor = mouseReportDescriptor();
    s.kernelDriverBound = true;
    return s;
}

DeviceDescription withKernelDriver(DeviceDescription model)
{
    model.kernelDriverBound = true;
    return model;
}

std::optional<DeviceDescription> byName(const std::string& name, int bus, int address)
{
    for (const auto& model : catalogue()) {
        if (model.first == name)
            return model.second(bus, address);
    }
    return std::nullopt;
}

std::vector<std::string> names()
{
    std::vector<std::string> result;
    for (const auto& model : catalogue())
        result.push_back(model.first);
    return result;
}

std::shared_ptr<FeatureReportResponder> featureResponder(const DeviceDescription& model)
{
    return std::dynamic_pointer_cast<FeatureReportResponder>(model.responder);
}

std::shared_ptr<DfuResponder> dfuResponder(const DeviceDescription& model)
{
    if (auto runtime = std::dynamic_pointer_cast<DfuRuntimeResponder>(model.responder))
        return std::dynamic_pointer_cast<DfuResponder>(runtime->dfuMode().responder);
    return std::dynamic_pointer_cast<DfuResponder>(model.responder);
}

}  // namespace models
}  // namespace nsemu
