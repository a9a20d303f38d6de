// Ready-made devices. Every model is a DeviceDescription plus, where the real
// hardware has some, behaviour for class or vendor requests.
//
// Vendor tablets (0x078c, 0x0483, 0x08ca, 0x5543, 0x172f) are HID pen
// digitizers with a 64-byte interrupt IN endpoint 0x81 and an 8-byte
// interrupt OUT endpoint: 0x02 for 0x078c products 0x0700-0x0702, 0x01
// otherwise; product 0x040a takes 9-byte OUT reports. Vendors 0x08ca and
// 0x172f answer the feature report protocol (FeatureReportResponder).
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "DeviceDescription.h"
#include "Responders.h"

namespace nsemu {
namespace models {

// Feature report defaults of 0x08ca/0x172f tablets.
constexpr std::uint16_t kFirmwareVersion = 0x0210;
constexpr std::uint16_t kMaxXPlusOne = 32000;
constexpr std::uint16_t kMaxYPlusOne = 20000;

// A pen digitizer report descriptor (usage page 0x0d, usage Pen): report
// id 2 with tip, barrel, eraser, invert and in-range bits, 16-bit X and
// Y (generic desktop, inches) and 16-bit tip pressure: 8-byte reports.
std::vector<std::uint8_t> penReportDescriptor(std::uint16_t maxX, std::uint16_t maxY, std::uint16_t maxPressure);

// An ordinary HID pen digitizer (0x5543:0x0064, X 0..32767, Y 0..20000,
// pressure 0..8191), 8-byte IN endpoint, no OUT endpoint.
DeviceDescription hidDigitizer(int bus, int address);
// A tablet of one of the supported vendors, following the rules above.
DeviceDescription tablet(std::uint16_t vendor, std::uint16_t product, int bus, int address);
// STM32-style DFU-mode device 0x0483:0xdf11 (interface class 0xfe/1/2,
// DfuResponder); with the marker its manufacturer is "VORNIQUE Tablets".
DeviceDescription dfu(bool vorniqueMarker, int bus, int address);
// A tablet (0x078c:0x0600) whose firmware can be updated: DFU_DETACH makes
// it leave the bus and come back as dfu(true, ...) at a new address
// (DfuRuntimeResponder).
DeviceDescription dfuCapableTablet(int bus, int address);
// A Logitech receiver (0x046d:0xc52b), a HID mouse nobody supports.
DeviceDescription unsupported(int bus, int address);
// model with "usbhid" bound to interface 0.
DeviceDescription withKernelDriver(DeviceDescription model);

// The models by name, for the Java side:
//   digitizer, tablet-078c (0x0600), tablet-078c-out2 (0x0700),
//   tablet-0483 (0x5710), tablet-08ca (0x0010), tablet-5543 (0x0064),
//   tablet-172f (0x0031), tablet-040a (0x5543:0x040a), tablet-dfu, dfu,
//   dfu-vornique, unsupported, kernel-driver (tablet-5543 with usbhid bound).
std::optional<DeviceDescription> byName(const std::string& name, int bus, int address);
std::vector<std::string> names();

// The responder of a 0x08ca/0x172f tablet, or null.
std::shared_ptr<FeatureReportResponder> featureResponder(const DeviceDescription& model);
// The DFU state machine of a DFU-mode device, or the one a DFU-capable
// tablet comes back with; else null.
std::shared_ptr<DfuResponder> dfuResponder(const DeviceDescription& model);

}  // namespace models
}  // namespace nsemu
