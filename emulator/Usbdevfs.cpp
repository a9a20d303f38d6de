#include "Usbdevfs.h"

#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <algorithm>
#include <cstring>

#include "Descriptors.h"

namespace nsemu {

namespace {

// Scatter-gather, as usbfs has it on xHCI: libusb then submits every transfer as one URB. A
// transfer split into several URBs (over 16 KiB without it) cannot be told apart here from
// transfers of their own, so each part would take a report of its own, and libusb frees the
// parts still in flight when one of them ends in an overflow.
constexpr unsigned kCapabilities = USBDEVFS_CAP_ZERO_PACKET | USBDEVFS_CAP_BULK_CONTINUATION |
                                   USBDEVFS_CAP_NO_PACKET_SIZE_LIM | USBDEVFS_CAP_REAP_AFTER_DISCONNECT |
                                   USBDEVFS_CAP_BULK_SCATTER_GATHER;
constexpr std::size_t kSetupSize = 8;

IoctlResult done(int err)
{
    return err ? IoctlResult{-1, err} : IoctlResult{0, 0};
}

Bytes copyOut(const void* from, std::size_t size)
{
    const auto* bytes = static_cast<const std::uint8_t*>(from);
    return Bytes(bytes, bytes + size);
}

UrbSubmission readSubmission(const usbdevfs_urb* urb)
{
    UrbSubmission s;
    s.key = reinterpret_cast<std::uintptr_t>(urb);
    s.type = urb->type;
    s.endpoint = urb->endpoint;
    s.bufferLength = urb->buffer_length;
    if (!urb->buffer || urb->buffer_length <= 0)
        return s;
    if (s.type == kUrbControl) {
        if (static_cast<std::size_t>(urb->buffer_length) < kSetupSize)
            return s;
        const auto* setup = static_cast<const std::uint8_t*>(urb->buffer);
        const bool in = setup[0] & 0x80;
        const std::size_t wLength = setup[6] | setup[7] << 8;
        const std::size_t wanted = kSetupSize + (in ? 0 : wLength);
        s.outBytes = copyOut(urb->buffer, std::min<std::size_t>(wanted, urb->buffer_length));
    } else if (!(s.endpoint & 0x80)) {
        s.outBytes = copyOut(urb->buffer, urb->buffer_length);
    }
    return s;
}

IoctlResult submitUrb(Device& device, ClientId client, usbdevfs_urb* urb)
{
    if (urb->type == kUrbControl && urb->buffer_length < static_cast<int>(kSetupSize))
        return done(EINVAL);
    if (urb->flags & USBDEVFS_URB_BULK_CONTINUATION)
        return done(EINVAL);  // the later part of a split transfer (see kCapabilities)
    urb->status = -EINPROGRESS;
    urb->actual_length = 0;
    return done(device.submit(client, readSubmission(urb)));
}

IoctlResult reapUrb(Device& device, ClientId client, void** out)
{
    ReapedUrb reaped;
    if (int err = device.reap(client, &reaped))
        return done(err);
    auto* urb = reinterpret_cast<usbdevfs_urb*>(reaped.key);
    auto* buffer = static_cast<std::uint8_t*>(urb->buffer);
    if (!reaped.inData.empty())
        std::memcpy(buffer + (reaped.control ? kSetupSize : 0), reaped.inData.data(), reaped.inData.size());
    urb->status = reaped.status;
    urb->actual_length = reaped.actualLength;
    urb->error_count = 0;
    *out = urb;
    return done(0);
}

IoctlResult getDriver(Device& device, usbdevfs_getdriver* request)
{
    std::string name;
    if (int err = device.getDriver(request->interface, &name))
        return done(err);
    std::memset(request->driver, 0, sizeof request->driver);
    std::strncpy(request->driver, name.c_str(), sizeof request->driver - 1);
    return done(0);
}

IoctlResult interfaceIoctl(Device& device, usbdevfs_ioctl* request)
{
    if (request->ifno < 0)
        return done(EINVAL);
    const unsigned interface = static_cast<unsigned>(request->ifno);
    switch (static_cast<unsigned>(request->ioctl_code)) {
    case USBDEVFS_DISCONNECT: return done(device.disconnectDriver(interface));
    case USBDEVFS_CONNECT: {  // like the kernel: 1 when a driver bound, 0 when none did
        bool bound = false;
        const int err = device.connectDriver(interface, &bound);
        return err ? done(err) : IoctlResult{bound ? 1 : 0, 0};
    }
    default: return done(ENOTTY);
    }
}

IoctlResult disconnectClaim(Device& device, ClientId client, usbdevfs_disconnect_claim* request)
{
    std::string bound;
    if (device.getDriver(request->interface, &bound) == 0 && bound != "usbfs") {
        const bool named = std::strncmp(bound.c_str(), request->driver, sizeof request->driver) == 0;
        const bool skip = ((request->flags & USBDEVFS_DISCONNECT_CLAIM_IF_DRIVER) && !named) ||
                          ((request->flags & USBDEVFS_DISCONNECT_CLAIM_EXCEPT_DRIVER) && named);
        if (!skip)
            device.disconnectDriver(request->interface);
    }
    return done(device.claim(client, request->interface));
}

IoctlResult controlTransfer(Device& device, ClientId client, usbdevfs_ctrltransfer* request)
{
    SetupPacket setup;
    setup.bmRequestType = request->bRequestType;
    setup.bRequest = request->bRequest;
    setup.wValue = request->wValue;
    setup.wIndex = request->wIndex;
    setup.wLength = request->wLength;
    Bytes outData;
    if (!setup.isIn() && request->data)
        outData = copyOut(request->data, request->wLength);
    Bytes inData;
    if (int err = device.controlNow(client, setup, outData, &inData))
        return done(err);
    if (setup.isIn() && !inData.empty())
        std::memcpy(request->data, inData.data(), inData.size());
    return {static_cast<long>(setup.isIn() ? inData.size() : setup.wLength), 0};
}

IoctlResult speedOf(const DeviceDescription& model)
{
    if (model.speed == "1.5") return {1, 0};  // USB_SPEED_LOW
    if (model.speed == "480") return {3, 0};  // USB_SPEED_HIGH
    return {2, 0};                           // USB_SPEED_FULL
}

IoctlResult connectedOnly(Device& device, ClientId client, unsigned request, void* arg)
{
    switch (request) {
    case USBDEVFS_GET_CAPABILITIES: *static_cast<__u32*>(arg) = kCapabilities; return done(0);
    case USBDEVFS_SUBMITURB: return submitUrb(device, client, static_cast<usbdevfs_urb*>(arg));
    case USBDEVFS_DISCARDURB: return done(device.discard(client, reinterpret_cast<std::uintptr_t>(arg)));
    case USBDEVFS_CLAIMINTERFACE: return done(device.claim(client, *static_cast<unsigned*>(arg)));
    case USBDEVFS_RELEASEINTERFACE: return done(device.release(client, *static_cast<unsigned*>(arg)));
    case USBDEVFS_GETDRIVER: return getDriver(device, static_cast<usbdevfs_getdriver*>(arg));
    case USBDEVFS_IOCTL: return interfaceIoctl(device, static_cast<usbdevfs_ioctl*>(arg));
    case USBDEVFS_DISCONNECT_CLAIM:
        return disconnectClaim(device, client, static_cast<usbdevfs_disconnect_claim*>(arg));
    case USBDEVFS_CONTROL: return controlTransfer(device, client, static_cast<usbdevfs_ctrltransfer*>(arg));
    case USBDEVFS_SETINTERFACE: {
        auto* s = static_cast<usbdevfs_setinterface*>(arg);
        if (s->altsetting != 0)
            return done(EINVAL);
        return done(device.claim(client, s->interface));
    }
    case USBDEVFS_SETCONFIGURATION: {
        const int value = *static_cast<int*>(arg);
        return done(value == 1 || value == 0 || value == -1 ? 0 : EINVAL);
    }
    case USBDEVFS_CLEAR_HALT:
    case USBDEVFS_RESETEP: {
        const unsigned ep = *static_cast<unsigned*>(arg);
        return done(ep == 0 || hasEndpoint(device.model(), static_cast<std::uint8_t>(ep)) ? 0 : ENOENT);
    }
    case USBDEVFS_RESET:
    case USBDEVFS_DROP_PRIVILEGES:
        return done(0);
    case USBDEVFS_GET_SPEED: return speedOf(device.model());
    default: return done(ENOTTY);
    }
}

}  // namespace

IoctlResult handleUsbdevfs(Device* device, ClientId client, unsigned long request, void* arg)
{
    if (!device)
        return done(ENODEV);
    const unsigned code = static_cast<unsigned>(request);
    // Reaping is allowed after a disconnect; everything else is not.
    if (code == USBDEVFS_REAPURBNDELAY || code == USBDEVFS_REAPURB)
        return reapUrb(*device, client, static_cast<void**>(arg));
    if (int err = device->checkConnected())
        return done(err);
    return connectedOnly(*device, client, code, arg);
}

}  // namespace nsemu
