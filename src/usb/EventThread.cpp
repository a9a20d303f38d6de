#include "EventThread.h"

#include "SteadyClock.h"

#include "DetachedThread.h"

#include <signal.h>
#include <sys/time.h>
#include <syslog.h>

#include <algorithm>
#include <new>

namespace nativesupport {

namespace {
// The wait while nothing is due: libusb's own timeouts (those of the blocking transfers)
// still end it early, and leave() interrupts it.
const int64_t kIdleWaitNs = int64_t{3600} * 1'000'000'000;

// The signals the thread leaves to the JVM's threads: all but those a fault raises in the
// thread itself.
sigset_t asynchronousSignals()
{
    sigset_t set;
    sigfillset(&set);
    for (int fault : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGABRT, SIGSYS})
        sigdelset(&set, fault);
    return set;
}
}

EventThread& EventThread::instance()
{
    static EventThread& thread = *new EventThread();
    return thread;
}

bool EventThread::join(EventClient* client)
{
    std::lock_guard<std::mutex> life(m_lifeMutex);
    if (!m_started) {
        m_context = new (std::nothrow) LibUsbContext(LibUsbContext::Default);
        if (m_context == nullptr || !*m_context) {
            delete m_context;
            m_context = nullptr;
            return false;
        }
        m_running = true;
        const sigset_t blocked = asynchronousSignals();
        sigset_t previous;
        pthread_sigmask(SIG_BLOCK, &blocked, &previous);
        m_started = pthread_create(&m_thread, nullptr, &EventThread::run, this) == 0;
        pthread_sigmask(SIG_SETMASK, &previous, nullptr);
        if (!m_started) {
            m_running = false;
            delete m_context;
            m_context = nullptr;
            return false;
        }
        pthread_setname_np(m_thread, "ns-usb-read");
    }
    try {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_clients.push_back(client);
    } catch (...) {
        return false;   // the thread stays for the clients it serves, or ends with the next leave
    }
    return true;
}

void EventThread::leave(EventClient* client)
{
    std::lock_guard<std::mutex> life(m_lifeMutex);
    bool last;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_clients.erase(std::remove(m_clients.begin(), m_clients.end(), client), m_clients.end());
        last = m_clients.empty();
    }
    if (!last || !m_started)
        return;
    m_running = false;
    libusb_interrupt_event_handler(m_context->get());
    pthread_join(m_thread, nullptr);
    m_started = false;
    delete m_context;   // after the thread: nothing outlives the context
    m_context = nullptr;
}

void EventThread::wake()
{
    libusb_interrupt_event_handler(nullptr);
}

void* EventThread::run(void* self)
{
    runToTheEnd("NATIVESUPPORT: The USB event thread met an unexpected error.  Reports are no longer read.",
                [self] { static_cast<EventThread*>(self)->loop(); });
    return nullptr;
}

void EventThread::loop()
{
    while (m_running.load(std::memory_order_acquire)) {
        int64_t due;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            due = nextDueNs();
        }
        const int64_t wait = due == 0 ? kIdleWaitNs : std::max<int64_t>(0, due - steadyNs());
        timeval timeout = {static_cast<time_t>(wait / 1'000'000'000),
                           static_cast<suseconds_t>(wait % 1'000'000'000 / 1000)};
        libusb_handle_events_timeout_completed(nullptr, &timeout, nullptr);
        retryDue();
    }
}

int64_t EventThread::nextDueNs()
{
    int64_t due = 0;
    for (EventClient* client : m_clients) {
        const int64_t at = client->retryDueNs();
        if (at != 0 && (due == 0 || at < due))
            due = at;
    }
    return due;
}

void EventThread::retryDue()
{
    const int64_t now = steadyNs();
    std::lock_guard<std::mutex> lock(m_mutex);
    for (EventClient* client : m_clients) {
        const int64_t at = client->retryDueNs();
        if (at != 0 && at <= now)
            client->retryParked();
    }
}

} // namespace nativesupport
