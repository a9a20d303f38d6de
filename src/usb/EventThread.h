#pragma once
// The one thread that handles libusb's events for the input reports of every open device.
//
// libusb wakes every thread that waits in its event handling for every event, so a thread per
// device would wake every device's thread for each report. This one runs while at least one
// stream is served (a stream holds it from its start to its end, and the last one out joins
// it), waits in libusb without a timeout while nothing is due, and gives each stream the
// moment its paused transfers are due again.
#include "LibUsbScope.h"

#include <pthread.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

namespace nativesupport {

// What the event thread serves: transfers of one device that may wait out a pause before
// they go again.
class EventClient {
public:
    // When the paused transfers are due (steady clock, ns), or 0 for none.
    virtual int64_t retryDueNs() const = 0;
    // Sends them again; the event thread calls it once they are due.
    virtual void retryParked() = 0;

protected:
    ~EventClient() = default;
};

class EventThread {
public:
    // The process's event thread; never destroyed.
    static EventThread& instance();

    // Serves `client` from now until leave(), starting the thread if it is the first. False
    // when the thread could not start.
    bool join(EventClient* client);
    // Stops serving `client`: once this returns the event thread makes no retry call on it.
    // The last stream out ends the thread and waits for it.
    void leave(EventClient* client);

    // The thread looks again at when the streams' retries are due (a stream paused a
    // transfer on another thread).
    void wake();

private:
    EventThread() = default;
    static void* run(void* self);
    void loop();
    int64_t nextDueNs();   // m_mutex held; 0 for none
    void retryDue();

    std::mutex m_lifeMutex;   // join and leave take turns
    pthread_t m_thread{};
    bool m_started = false;
    std::atomic<bool> m_running{false};
    LibUsbContext* m_context = nullptr;   // held while the thread runs

    std::mutex m_mutex;
    std::vector<EventClient*> m_clients;
};

} // namespace nativesupport
