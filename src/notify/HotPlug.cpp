// USB hot-plug: the notification thread of a subscription. It takes the udev database
// directory's signals and turns them into at most one handleUSBHotPlugEvent call every
// 3 seconds. It sleeps in the kernel until a signal comes, the quiet interval after the
// last call ends, or the subscription closes: an idle subscription costs nothing.
#include "JavaCall.h"
#include "Subscription.h"

#include <poll.h>
#include <sys/signalfd.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

namespace nativesupport {

namespace {
constexpr time_t kQuietSeconds = 3;

// Until the wall clock's whole second reaches `second` (at least 0).
timespec untilSecond(time_t second)
{
    timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    if (now.tv_sec >= second)
        return {0, 0};
    timespec left = {second - now.tv_sec - 1, 1000000000L - now.tv_nsec};
    if (left.tv_nsec >= 1000000000L) {
        left.tv_sec += 1;
        left.tv_nsec -= 1000000000L;
    }
    return left;
}
}

void* Subscription::USB_Changed_Thread(void* argument)
{
    auto* held = static_cast<std::shared_ptr<Subscription>*>(argument);
    std::shared_ptr<Subscription> subscription = std::move(*held);
    delete held;
    subscription->notificationLoop();
    return nullptr;
}

void Subscription::notificationLoop()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_notificationThread = gettid();
    }
    m_changed.notify_all();
    while (!m_closed) {
        if (m_USB_Signal > 0 && time(nullptr) >= m_time_t + kQuietSeconds) {
            callHotPlugHandler();
            // Changes that came during the call are still queued: they are counted next,
            // and answered by a further call once the quiet interval has passed.
            m_USB_Signal = 0;
            m_time_t = time(nullptr);
            continue;
        }
        waitForChanges();
    }
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_notificationThread = -1;
    }
    m_changed.notify_all();
}

// Sleeps until a directory signal comes, the subscription closes, or (with changes
// counted) the quiet interval ends at the first moment `time` reaches its end.
void Subscription::waitForChanges()
{
    pollfd fds[2] = {{m_signals, POLLIN, 0}, {m_wake, POLLIN, 0}};
    timespec left;
    const timespec* timeout = nullptr;
    if (m_USB_Signal > 0) {
        left = untilSecond(m_time_t + kQuietSeconds);
        timeout = &left;
    }
    if (ppoll(fds, 2, timeout, nullptr) < 0 && errno != EINTR)
        return;
    if ((fds[0].revents & POLLIN) != 0)
        takeSignals();
}

// Counts each signal taken, and logs the signal and the descriptor it reports.
void Subscription::takeSignals()
{
    signalfd_siginfo info;
    while (read(m_signals, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
        syslog(LOG_INFO, "NATIVESUPPORT: sig= %ld", static_cast<long>(info.ssi_signo));
        syslog(LOG_INFO, "NATIVESUPPORT: si->si_fd= %ld", static_cast<long>(info.ssi_fd));
        ++m_USB_Signal;
    }
}

void Subscription::callHotPlugHandler()
{
    callStaticVoid(m_pjavaVM, m_javaClass, m_javaMethod, "handleUSBHotPlugEvent()",
                   "NATIVESUPPORT: Native Java USB_Changed_Thread() Attached JNIEnv = %ld",
                   "NATIVESUPPORT: Native Java USB_Changed_Thread() Detached JNIEnv = %ld");
}

} // namespace nativesupport
