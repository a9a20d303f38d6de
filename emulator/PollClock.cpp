#include "PollClock.h"

#include <pthread.h>

#include <algorithm>
#include <thread>

#include "Device.h"

namespace nsemu {

void PollClock::book(const std::shared_ptr<Device>& device, Clock::time_point due)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_bookings.find(device.get());
    if (it == m_bookings.end())
        m_bookings.emplace(device.get(), Booking{device, due});
    else if (due < it->second.due)
        it->second.due = due;
    else
        return;
    startLocked();
    m_booked.notify_one();
}

void PollClock::startLocked()
{
    if (m_started)
        return;
    m_started = true;
    // Lives as long as the process, like the emulator that owns the clock.
    std::thread([this] {
        pthread_setname_np(pthread_self(), "nsemu-poll");
        run();
    }).detach();
}

void PollClock::run()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        auto next = std::min_element(m_bookings.begin(), m_bookings.end(),
                                     [](const auto& a, const auto& b) { return a.second.due < b.second.due; });
        if (next == m_bookings.end()) {
            m_booked.wait(lock);
            continue;
        }
        const Clock::time_point now = Clock::now();
        if (now < next->second.due) {
            m_booked.wait_until(lock, next->second.due);
            continue;
        }
        std::shared_ptr<Device> device = next->second.device.lock();
        m_bookings.erase(next);
        if (!device)
            continue;
        lock.unlock();
        const auto again = device->answerPoll(now);
        lock.lock();
        if (!again)
            continue;
        auto it = m_bookings.find(device.get());
        if (it == m_bookings.end())
            m_bookings.emplace(device.get(), Booking{device, *again});
        else
            it->second.due = std::min(it->second.due, *again);
    }
}

}  // namespace nsemu
