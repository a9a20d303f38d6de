// subscribeUSBChangeEvents and unsubscribeUSBChangeEvents: the subscription in force, and
// what opening and closing one does.
#include "Subscription.h"

#include "DetachedThread.h"
#include "DisplayWatcher.h"
#include "JavaCall.h"
#include "JniUtil.h"

#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <syslog.h>
#include <unistd.h>

#include <chrono>

namespace nativesupport {

namespace {
const char* const kDiscoveryClass = "quorvantelix/dm/DeviceDiscoveryService";
const char kPrefix[] = "NATIVESUPPORT: ";

// The subscription in force; subscribe and unsubscribe take turns on the mutex.
std::mutex g_subscriptionMutex;
std::shared_ptr<Subscription>& g_subscription = *new std::shared_ptr<Subscription>();

// The signals the notification thread takes from its signal descriptor: the directory's
// signal, and SIGIO, which the kernel sends instead once the queue of real-time signals
// is full (changes were lost: at least one came).
sigset_t directorySignals()
{
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGRTMIN);
    sigaddset(&set, SIGIO);
    return set;
}

}

std::shared_ptr<Subscription> Subscription::open(JNIEnv* env)
{
    std::shared_ptr<Subscription> subscription(new Subscription());
    if (env->GetJavaVM(&subscription->m_pjavaVM) != JNI_OK || subscription->m_pjavaVM == nullptr)
        return nullptr;
    openlog("libNativeSupport", LOG_PID | LOG_PERROR, 0);
    subscription->m_time_t = std::chrono::steady_clock::now();
    subscription->lookUpCallbacks(env);
    syslog(LOG_INFO, "NATIVESUPPORT: Native Java subscribeUSBChangeEvents() JavaVM* = %ld",
           reinterpret_cast<long>(subscription->m_pjavaVM));
    syslog(LOG_INFO, "NATIVESUPPORT: Native Java subscribeUSBChangeEvents() JNIEnv = %ld", reinterpret_cast<long>(env));
    syslog(LOG_INFO, "NATIVESUPPORT: Native Java subscribeUSBChangeEvents() jclass = %ld",
           reinterpret_cast<long>(subscription->m_javaClass));
    syslog(LOG_INFO, "NATIVESUPPORT: Native Java subscribeUSBChangeEvents() jmethodID = %ld",
           reinterpret_cast<long>(subscription->m_javaMethod));

    startNotificationThread(subscription);
    subscription->startDisplayWatcher(subscription);
    subscription->m_libusb = std::make_unique<LibUsbContext>(LibUsbContext::Default);
    syslog(LOG_INFO, "NATIVESUPPORT: startDisplayChangedEventThread(): Entered.\n");
    return subscription;
}

// The class and both callbacks, taken once on the subscribing thread: a native thread's
// FindClass sees only the system class loader, not the one that loaded the application.
void Subscription::lookUpCallbacks(JNIEnv* env)
{
    ScopedLocalRef<jclass> found(env, env->FindClass(kDiscoveryClass));
    if (found.get() == nullptr) {
        clearJavaException(env, "FindClass(quorvantelix/dm/DeviceDiscoveryService)");
        return;
    }
    m_javaClass = static_cast<jclass>(env->NewGlobalRef(found.get()));
    m_javaMethod = env->GetStaticMethodID(m_javaClass, "handleUSBHotPlugEvent", "()V");
    clearJavaException(env, "GetStaticMethodID(handleUSBHotPlugEvent)");
    m_displayMethod = env->GetStaticMethodID(m_javaClass, "handleDisplayChangedEvent", "()V");
    clearJavaException(env, "GetStaticMethodID(handleDisplayChangedEvent)");
}

// The notification thread arms the watch itself (the directory's signal goes to that
// thread alone, so that it never interrupts a thread of the JVM); the subscribe returns
// once it has, so that no change made after it is missed.
void Subscription::startNotificationThread(const std::shared_ptr<Subscription>& subscription)
{
    Subscription& s = *subscription;
    const sigset_t signals = directorySignals();
    s.m_signals = signalfd(-1, &signals, SFD_CLOEXEC | SFD_NONBLOCK);
    s.m_wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    std::unique_lock<std::mutex> lock(s.m_mutex);
    s.m_notifying = Notifying::Starting;
    if (s.m_signals < 0 || s.m_wake < 0 ||
        !startJoinableThread(&Subscription::USB_Changed_Thread, subscription, "ns-hotplug", signals,
                             &s.m_notificationThread)) {
        s.m_notifying = Notifying::NotStarted;
        syslog(LOG_INFO, "NATIVESUPPORT: USB hot-plug notification could not be started (%m).  USB devices "
                         "that come or go are not reported.");
        return;
    }
    s.m_changed.wait(lock, [&s] { return s.m_notifying != Notifying::Starting; });
}

// The display thread calls Java through the subscription while it lives; it holds none of
// it in between, so the subscription ends when its Java side lets go of it.
void Subscription::startDisplayWatcher(const std::shared_ptr<Subscription>& self)
{
    std::weak_ptr<Subscription> weak = self;
    m_display = std::make_unique<DisplayWatcher>([weak](long, long) {
        if (std::shared_ptr<Subscription> subscription = weak.lock())
            subscription->callDisplayHandler();
    });
    m_display->start();
}

// A change seen after the close is left alone; one seen before it is passed on only if the
// subscription is still open once the thread is attached (attaching may wait), as the
// notification thread's calls are.
void Subscription::callDisplayHandler()
{
    if (isClosed())
        return;
    callStaticVoid(m_pjavaVM, m_javaClass, m_displayMethod, "handleDisplayChangedEvent()", nullptr,
                   "Native Java sendJNIDisplayReconfigurationEvent() Detached JNIEnv\n",
                   [this] { return mayCallJava(); });
}

// Both threads ask this once attached, right before a Java call: the close takes the same
// lock, so once it has returned no call begins.
bool Subscription::mayCallJava()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return !m_closed;
}

void Subscription::close()
{
    Notifying notifying;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_closed = true;
        notifying = m_notifying;
    }
    const uint64_t one = 1;
    (void)!write(m_wake, &one, sizeof one);
    // A thread busy with a Java call is left to end after it: the call may take its time.
    // Otherwise the thread ends at once, and nothing of it is left once this returns.
    if (notifying == Notifying::InJava)
        pthread_detach(m_notificationThread);
    else if (notifying != Notifying::NotStarted)
        pthread_join(m_notificationThread, nullptr);
    m_display->stop();
    m_libusb.reset();
}

// Runs on whichever thread lets go of the subscription last: its class reference needs a
// JNI environment of that thread, attached for the purpose if it has none.
Subscription::~Subscription()
{
    for (int fd : {m_USB_FileDir, m_appear, m_signals, m_wake}) {
        if (fd >= 0)
            ::close(fd);
    }
    if (m_javaClass == nullptr)
        return;
    JNIEnv* env = nullptr;
    if (m_pjavaVM->GetEnv(reinterpret_cast<void**>(&env), JNI_VERSION_1_6) == JNI_OK) {
        env->DeleteGlobalRef(m_javaClass);
    } else if (m_pjavaVM->AttachCurrentThread(reinterpret_cast<void**>(&env), nullptr) == JNI_OK) {
        env->DeleteGlobalRef(m_javaClass);
        m_pjavaVM->DetachCurrentThread();
    }
}

} // namespace nativesupport

using namespace nativesupport;

extern "C" {

JNIEXPORT void JNICALL Java_quorvantelix_dm_connections_usb_NativeUSB_subscribeUSBChangeEvents(JNIEnv* env, jobject)
{
    guarded(kPrefix, "subscribeUSBChangeEvents", 0, [env] {
        std::lock_guard<std::mutex> lock(g_subscriptionMutex);
        if (g_subscription == nullptr)
            g_subscription = Subscription::open(env);
        return 0;
    });
}

JNIEXPORT void JNICALL Java_quorvantelix_dm_connections_usb_NativeUSB_unsubscribeUSBChangeEvents(JNIEnv*, jobject)
{
    guarded(kPrefix, "unsubscribeUSBChangeEvents", 0, [] {
        syslog(LOG_INFO, "NATIVESUPPORT: Native Java unsubscribeUSBChangeEvents()");
        std::lock_guard<std::mutex> lock(g_subscriptionMutex);
        std::shared_ptr<Subscription> ending = std::move(g_subscription);
        if (ending == nullptr)
            return 0;   // not subscribed: nothing was opened or started
        ending->close();
        closelog();
        return 0;
    });
}

} // extern "C"
