// subscribeUSBChangeEvents and unsubscribeUSBChangeEvents: the subscription in force, and
// what opening and closing one does.
#include "Subscription.h"

#include "DetachedThread.h"
#include "DisplayWatcher.h"
#include "JavaCall.h"
#include "JniUtil.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <syslog.h>
#include <unistd.h>

#include <chrono>

namespace nativesupport {

namespace {
// The udev database: where udev before version 174 kept it, else where it keeps it now.
const char* const kUdevDatabases[] = {"/dev/.udev/db/.", "/run/udev/data"};
const char* const kDiscoveryClass = "quorvantelix/dm/DeviceDiscoveryService";
constexpr auto kUnsubscribeWait = std::chrono::microseconds(5000);
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

// The thread starts with the directory's signals blocked (the notification thread takes
// them from its signal descriptor) and with a reference on the subscription, which it drops
// when it ends.
bool startThread(void* (*function)(void*), const std::shared_ptr<Subscription>& subscription, const char* name)
{
    return startDetachedThread(function, subscription, name, directorySignals());
}

// The directory's signal is taken by the notification thread, which keeps it blocked; this
// handler is there only so that a stray one delivered elsewhere never ends the process.
void USB_Changed_Callback(int, siginfo_t*, void*) {}
}

std::shared_ptr<Subscription> Subscription::open(JNIEnv* env)
{
    std::shared_ptr<Subscription> subscription(new Subscription());
    if (env->GetJavaVM(&subscription->m_pjavaVM) != JNI_OK || subscription->m_pjavaVM == nullptr)
        return nullptr;
    openlog("libNativeSupport", LOG_PID | LOG_PERROR, 0);
    subscription->m_time_t = time(nullptr);
    subscription->lookUpCallbacks(env);
    syslog(LOG_INFO, "NATIVESUPPORT: Native Java subscribeUSBChangeEvents() JavaVM* = %ld",
           reinterpret_cast<long>(subscription->m_pjavaVM));
    syslog(LOG_INFO, "NATIVESUPPORT: Native Java subscribeUSBChangeEvents() JNIEnv = %ld", reinterpret_cast<long>(env));
    syslog(LOG_INFO, "NATIVESUPPORT: Native Java subscribeUSBChangeEvents() jclass = %ld",
           reinterpret_cast<long>(subscription->m_javaClass));
    syslog(LOG_INFO, "NATIVESUPPORT: Native Java subscribeUSBChangeEvents() jmethodID = %ld",
           reinterpret_cast<long>(subscription->m_javaMethod));

    for (const char* database : kUdevDatabases) {
        subscription->m_USB_FileDir = ::open(database, O_RDONLY | O_CLOEXEC);
        if (subscription->m_USB_FileDir >= 0)
            break;
    }
    const sigset_t signals = directorySignals();
    subscription->m_signals = signalfd(-1, &signals, SFD_CLOEXEC | SFD_NONBLOCK);
    subscription->m_wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (subscription->m_signals >= 0 && subscription->m_wake >= 0 &&
        startThread(&Subscription::USB_Changed_Thread, subscription, "ns-hotplug"))
        subscription->watchUdevDatabase();
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

// Directory notification for created and deleted entries, signalled with SIGRTMIN to the
// notification thread only, so that it never interrupts a thread of the JVM. Without the
// thread's id (it did not start within a second) nothing is watched.
void Subscription::watchUdevDatabase()
{
    pid_t thread;
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait_for(lock, std::chrono::seconds(1), [this] { return m_notificationThread != 0; });
        thread = m_notificationThread;
    }
    if (m_USB_FileDir < 0 || thread <= 0)
        return;
    struct sigaction action = {};
    action.sa_sigaction = USB_Changed_Callback;
    action.sa_flags = SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    sigaction(SIGRTMIN, &action, nullptr);
    struct f_owner_ex owner = {F_OWNER_TID, thread};
    if (fcntl(m_USB_FileDir, F_SETSIG, SIGRTMIN) == 0 && fcntl(m_USB_FileDir, F_SETOWN_EX, &owner) == 0)
        fcntl(m_USB_FileDir, F_NOTIFY, DN_CREATE | DN_DELETE | DN_MULTISHOT);
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

void Subscription::callDisplayHandler()
{
    if (isClosed())
        return;
    callStaticVoid(m_pjavaVM, m_javaClass, m_displayMethod, "handleDisplayChangedEvent()", nullptr,
                   "Native Java sendJNIDisplayReconfigurationEvent() Detached JNIEnv\n");
}

void Subscription::close()
{
    m_closed = true;
    const uint64_t one = 1;
    (void)!write(m_wake, &one, sizeof one);
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_changed.wait_for(lock, kUnsubscribeWait, [this] { return m_notificationThread < 0; });
    }
    if (m_USB_FileDir >= 0) {
        ::close(m_USB_FileDir);
        m_USB_FileDir = -1;
    }
    m_display->stop();
    m_libusb.reset();
}

// Runs on whichever thread lets go of the subscription last: its class reference needs a
// JNI environment of that thread, attached for the purpose if it has none.
Subscription::~Subscription()
{
    for (int fd : {m_USB_FileDir, m_signals, m_wake}) {
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
