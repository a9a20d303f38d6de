// USB hot-plug: the directory signal handler and the notification thread that turns the
// signals into at most one handleUSBHotPlugEvent call every 3 seconds.
#include "Notifications.h"

#include <pthread.h>
#include <syslog.h>
#include <unistd.h>

#include <csignal>

#include <mutex>

std::atomic<JavaVM*> g_pjavaVM{nullptr};
jclass g_javaClass = nullptr;
jmethodID g_javaMethod = nullptr;
int g_USB_FileDir = -1;
std::atomic<int> g_USB_Signal{0};
std::atomic<time_t> g_time_t{0};
std::atomic<unsigned> g_subscription{0};
std::atomic<pid_t> g_hotPlugThreadId{0};

namespace {
constexpr time_t kQuietSeconds = 3;
constexpr long kPollNanoseconds = 500 * 1000;

// The handler may not call syslog: the thread it interrupts may hold syslog's lock. It
// leaves (signal, descriptor) records in this ring instead, and the notification thread
// writes their lines. (The directory signal normally reaches no handler at all: it is
// directed at the notification thread, which keeps it blocked and takes it with
// sigtimedwait; see waitForDirectorySignal.) Writers are signal handlers, possibly on several threads at once;
// the reader is whichever notification thread holds g_signalLogMutex.
constexpr unsigned kSignalRecords = 256;
struct SignalRecord {
    std::atomic<unsigned> sequence{0};   // number of the record + 1 once complete
    std::atomic<int> sig{0};
    std::atomic<int> fd{0};
};
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<unsigned>::is_always_lock_free,
              "the signal handler needs lock-free atomics");

SignalRecord g_signalRecords[kSignalRecords];
std::atomic<unsigned> g_signalsRecorded{0};
std::mutex g_signalLogMutex;
unsigned g_signalsLogged = 0;   // guarded by g_signalLogMutex

void logRecordedSignals()
{
    std::lock_guard<std::mutex> lock(g_signalLogMutex);
    for (;;) {
        SignalRecord& record = g_signalRecords[g_signalsLogged % kSignalRecords];
        const unsigned sequence = record.sequence.load(std::memory_order_acquire);
        if (sequence != g_signalsLogged + 1) {
            // Either not written yet, or overwritten by a burst larger than the ring; in
            // the second case the oldest lines are lost, the count is not.
            if (static_cast<int>(sequence - (g_signalsLogged + 1)) > 0)
                g_signalsLogged = g_signalsRecorded.load() - kSignalRecords;
            else
                return;
            continue;
        }
        const long sig = record.sig.load(std::memory_order_relaxed);
        const long fd = record.fd.load(std::memory_order_relaxed);
        if (record.sequence.load(std::memory_order_acquire) != sequence)
            continue;   // overwritten while read; the check above skips ahead
        ++g_signalsLogged;
        syslog(LOG_INFO, "NATIVESUPPORT: sig= %ld", sig);
        syslog(LOG_INFO, "NATIVESUPPORT: si->si_fd= %ld", fd);
    }
}

// One handleUSBHotPlugEvent call, with the thread attached to `vm` for its duration.
void callHotPlugHandler(JavaVM* vm)
{
    JNIEnv* env = nullptr;
    if (vm->AttachCurrentThread(reinterpret_cast<void**>(&env), nullptr) != JNI_OK)
        env = nullptr;
    syslog(LOG_INFO, "NATIVESUPPORT: Native Java USB_Changed_Thread() Attached JNIEnv = %ld",
           reinterpret_cast<long>(env));
    if (env != nullptr && g_javaClass != nullptr && g_javaMethod != nullptr)
        env->CallStaticVoidMethod(g_javaClass, g_javaMethod);
    vm->DetachCurrentThread();
    syslog(LOG_INFO, "NATIVESUPPORT: Native Java USB_Changed_Thread() Detached JNIEnv = %ld",
           reinterpret_cast<long>(env));
}
}

void USB_Changed_Callback(int sig, siginfo_t* si, void* context)
{
    const unsigned n = g_signalsRecorded.fetch_add(1);
    SignalRecord& record = g_signalRecords[n % kSignalRecords];
    record.sig.store(sig, std::memory_order_relaxed);
    record.fd.store(si != nullptr ? si->si_fd : -1, std::memory_order_relaxed);
    record.sequence.store(n + 1, std::memory_order_release);
    g_USB_Signal.fetch_add(1);
}

namespace {
sigset_t directorySignal()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGRTMIN);
    return set;
}

// One polling period, cut short by a directory signal, which is counted and recorded as
// the handler would.
void waitForDirectorySignal()
{
    const sigset_t set = directorySignal();
    const timespec period = {0, kPollNanoseconds};
    siginfo_t info;
    const int sig = sigtimedwait(&set, &info, &period);
    if (sig > 0)
        USB_Changed_Callback(sig, &info, nullptr);
}
}

void* USB_Changed_Thread(void* subscription)
{
    const unsigned mine = subscriptionOf(subscription);
    if (!isSubscribed(mine))
        return nullptr;
    g_hotPlugThreadId.store(gettid());
    for (;;) {
        logRecordedSignals();
        if (g_USB_Signal.load() > 0 && time(nullptr) >= g_time_t.load() + kQuietSeconds) {
            JavaVM* vm = g_pjavaVM.load();
            if (vm == nullptr || g_subscription.load() != mine)
                return nullptr;
            callHotPlugHandler(vm);
            const time_t now = time(nullptr);
            g_USB_Signal.store(0);
            g_time_t.store(now);
        }
        waitForDirectorySignal();
        if (!isSubscribed(mine))
            return nullptr;
    }
}
