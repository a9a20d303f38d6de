// Device: open descriptors, interface claims and the kernel driver binding,
// following usbfs rules.
#include "Device.h"

#include <algorithm>
#include <cerrno>

namespace nsemu {

namespace {

const char* const kKernelDriver = "usbhid";

}  // namespace

void Device::clientConnected(ClientId)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_clients;
    changed();
}

void Device::clientGone(ClientId client)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto mine = [client](const Urb& u) { return u.client == client; };
    m_pending.remove_if(mine);
    m_completed.erase(std::remove_if(m_completed.begin(), m_completed.end(), mine), m_completed.end());
    if (m_claimedBy == client)
        m_claimedBy.reset();
    if (m_clients > 0)
        --m_clients;
    changed();
}

// usbfs claims an interface implicitly on first use, which fails while a
// kernel driver or another file descriptor holds it.
int Device::checkInterface(ClientId client, unsigned interface)
{
    if (interface != 0)
        return ENOENT;
    if (m_claimedBy == client)
        return 0;
    if (m_claimedBy || m_driverBound)
        return EBUSY;
    m_claimedBy = client;
    return 0;
}

int Device::checkControlRecipient(ClientId client, const SetupPacket& setup)
{
    if ((setup.bmRequestType & 0x60) == 0x40)  // vendor requests pass unchecked
        return 0;
    switch (setup.bmRequestType & 0x1f) {
    case 1: return checkInterface(client, setup.wIndex & 0xff);
    case 2: return (setup.wIndex & 0x7f) == 0 ? 0 : checkInterface(client, 0);
    default: return 0;
    }
}

int Device::claim(ClientId client, unsigned interface)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_plugged)
        return ENODEV;
    int err = checkInterface(client, interface);
    changed();
    return err;
}

int Device::release(ClientId client, unsigned interface)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_plugged)
        return ENODEV;
    if (interface != 0 || m_claimedBy != client)
        return EINVAL;
    m_claimedBy.reset();
    changed();
    return 0;
}

int Device::getDriver(unsigned interface, std::string* driver)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_plugged)
        return ENODEV;
    if (interface != 0)
        return EINVAL;
    if (m_claimedBy) {
        *driver = "usbfs";
        return 0;
    }
    if (!m_driverBound)
        return ENODATA;
    *driver = kKernelDriver;
    return 0;
}

int Device::disconnectDriver(unsigned interface)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_plugged)
        return ENODEV;
    if (interface != 0)
        return EINVAL;
    if (!m_driverBound)
        return ENODATA;
    m_driverBound = false;
    changed();
    return 0;
}

int Device::connectDriver(unsigned interface, bool* bound)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_plugged)
        return ENODEV;
    if (interface != 0)
        return EINVAL;
    if (m_claimedBy || m_driverBound)
        return EBUSY;
    m_driverBound = m_model.kernelDriverBound;  // only a matching driver binds again
    *bound = m_driverBound;
    changed();
    return 0;
}

}  // namespace nsemu
