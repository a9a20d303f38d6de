// The host controller's polling of interrupt IN endpoints, for devices that
// answer a poll with an empty packet while they have nothing to send: one
// thread, started on first use, wakes each such device when its next answer
// is due on the monotonic clock. The ioctl thread only books a time here; it
// never waits.
#pragma once

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>

namespace nsemu {

class Device;

class PollClock {
public:
    using Clock = std::chrono::steady_clock;

    // The device is polled at due (or at once if due has passed); an earlier
    // booking of the same device stands if it is sooner. Never blocks.
    void book(const std::shared_ptr<Device>& device, Clock::time_point due);

private:
    struct Booking {
        std::weak_ptr<Device> device;
        Clock::time_point due;
    };

    void run();
    void startLocked();

    std::mutex m_mutex;
    std::condition_variable m_booked;
    std::map<const Device*, Booking> m_bookings;
    bool m_started = false;
};

}  // namespace nsemu
