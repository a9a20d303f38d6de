// Device: the test side's faults, records, status and waits.
#include "Device.h"

namespace nsemu {

void Device::addFault(const Fault& fault)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_faults.add(fault);
}

void Device::clearFaults()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_faults.clear();
}

std::vector<Record> Device::records()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_records;
}

DeviceStatus Device::statusLocked() const
{
    DeviceStatus s;
    s.plugged = m_plugged;
    s.kernelDriverBound = m_driverBound;
    s.claimed = m_claimedBy.has_value();
    s.clients = m_clients;
    for (const Urb& urb : m_pending) {
        if (urb.hung)
            ++s.hung;
        else
            ++s.pendingIn;
    }
    s.unreaped = m_completed.size();
    s.discards = m_discards;
    s.records = m_records.size();
    s.queuedInput = m_input.size();
    s.emptyAnswers = m_emptyAnswers;
    return s;
}

DeviceStatus Device::status()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return statusLocked();
}

bool Device::waitUntil(const std::function<bool(const DeviceStatus&)>& done, std::chrono::milliseconds timeout)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] { return done(statusLocked()); });
}

}  // namespace nsemu
