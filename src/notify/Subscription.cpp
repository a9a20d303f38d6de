// subscribeUSBChangeEvents and unsubscribeUSBChangeEvents: they open and close the system
// log, the default libusb context, the watch on the udev database directory and the
// notification and display threads.
#include "Notifications.h"

#include <fcntl.h>
#include <libusb.h>
#include <pthread.h>
#include <syslog.h>
#include <unistd.h>

#include <mutex>

namespace {
const char* const kUdevDatabase = "/dev/.udev/db/.";
const char* const kDiscoveryClass = "quorvantelix/dm/DeviceDiscoveryService";
constexpr useconds_t kUnsubscribeWaitMicroseconds = 5000;

// Subscribe and unsubscribe may come from different Java threads; they take turns.
std::mutex g_subscriptionMutex;
bool g_libusbStarted = false;   // guarded by g_subscriptionMutex

// The threads start with the directory signal blocked: the notification thread takes it
// with sigtimedwait, and the display thread has no business with it.
bool startThread(void* (*function)(void*), unsigned subscription, const char* name)
{
    sigset_t blocked, previous;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGRTMIN);
    pthread_sigmask(SIG_BLOCK, &blocked, &previous);
    pthread_t thread;
    const bool started = pthread_create(&thread, nullptr, function, subscriptionArgument(subscription)) == 0;
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    if (!started)
        return false;
    pthread_setname_np(thread, name);
    pthread_detach(thread);   // nobody waits for them: they end on their own
    return true;
}

// The kernel id of the notification thread just started; 0 if it does not say within a second.
pid_t awaitHotPlugThreadId()
{
    for (int i = 0; i < 10000 && g_hotPlugThreadId.load() == 0; ++i)
        usleep(100);
    return g_hotPlugThreadId.load();
}

// Keeps one global reference to the callback class across subscriptions instead of
// taking a new one each time.
void rememberDiscoveryClass(JNIEnv* env)
{
    jclass found = env->FindClass(kDiscoveryClass);
    if (found == nullptr)
        return;   // the pending exception reaches the caller
    if (g_javaClass == nullptr || !env->IsSameObject(g_javaClass, found))
        g_javaClass = static_cast<jclass>(env->NewGlobalRef(found));
    env->DeleteLocalRef(found);
    // The notification thread of the last subscription may still be ending and reading it:
    // the ID stays the same while the class is loaded, so it is written only when it changes.
    const jmethodID method = env->GetStaticMethodID(g_javaClass, "handleUSBHotPlugEvent", "()V");
    if (method != g_javaMethod)
        g_javaMethod = method;
}

// Directory notification for created and deleted entries, signalled with SIGRTMIN. The
// handler stays installed after unsubscribe: a signal still queued then must find it.
// The signal goes to the notification thread only (`hotPlugThread`), which takes it
// synchronously, so that it never interrupts a thread of the JVM; without that thread's
// id it goes to the process, and the handler takes it wherever it lands.
void watchUdevDatabase(pid_t hotPlugThread)
{
    if (g_USB_FileDir < 0)
        return;
    struct sigaction action = {};
    action.sa_sigaction = USB_Changed_Callback;
    action.sa_flags = SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    sigaction(SIGRTMIN, &action, nullptr);
    fcntl(g_USB_FileDir, F_SETSIG, SIGRTMIN);
    if (hotPlugThread != 0) {
        struct f_owner_ex owner = {F_OWNER_TID, hotPlugThread};
        fcntl(g_USB_FileDir, F_SETOWN_EX, &owner);
    }
    fcntl(g_USB_FileDir, F_NOTIFY, DN_CREATE | DN_DELETE | DN_MULTISHOT);
}
}

extern "C" {

JNIEXPORT void JNICALL Java_quorvantelix_dm_connections_usb_NativeUSB_subscribeUSBChangeEvents(JNIEnv* env, jobject)
{
    std::lock_guard<std::mutex> lock(g_subscriptionMutex);
    if (g_pjavaVM.load() != nullptr)
        return;
    JavaVM* vm = nullptr;
    if (env->GetJavaVM(&vm) != JNI_OK || vm == nullptr)
        return;

    openlog("libNativeSupport", LOG_PID | LOG_PERROR, 0);
    g_time_t.store(time(nullptr));
    const unsigned subscription = g_subscription.load() + 1;
    g_subscription.store(subscription);
    g_pjavaVM.store(vm);
    rememberDiscoveryClass(env);

    syslog(LOG_INFO, "NATIVESUPPORT: Native Java subscribeUSBChangeEvents() JavaVM* = %ld", reinterpret_cast<long>(vm));
    syslog(LOG_INFO, "NATIVESUPPORT: Native Java subscribeUSBChangeEvents() JNIEnv = %ld", reinterpret_cast<long>(env));
    syslog(LOG_INFO, "NATIVESUPPORT: Native Java subscribeUSBChangeEvents() jclass = %ld",
           reinterpret_cast<long>(g_javaClass));
    syslog(LOG_INFO, "NATIVESUPPORT: Native Java subscribeUSBChangeEvents() jmethodID = %ld",
           reinterpret_cast<long>(g_javaMethod));

    g_USB_FileDir = open(kUdevDatabase, O_RDONLY | O_CLOEXEC);
    g_hotPlugThreadId.store(0);
    const bool hotPlugThread = startThread(USB_Changed_Thread, subscription, "ns-hotplug");
    watchUdevDatabase(hotPlugThread ? awaitHotPlugThreadId() : 0);
    startThread(startDisplayChangedEventThread, subscription, "ns-display");
    g_libusbStarted = libusb_init(nullptr) == 0;
    syslog(LOG_INFO, "NATIVESUPPORT: startDisplayChangedEventThread(): Entered.\n");
}

JNIEXPORT void JNICALL Java_quorvantelix_dm_connections_usb_NativeUSB_unsubscribeUSBChangeEvents(JNIEnv*, jobject)
{
    syslog(LOG_INFO, "NATIVESUPPORT: Native Java unsubscribeUSBChangeEvents()");
    std::lock_guard<std::mutex> lock(g_subscriptionMutex);
    if (g_pjavaVM.exchange(nullptr) == nullptr)
        return;   // not subscribed: nothing was opened or started
    usleep(kUnsubscribeWaitMicroseconds);
    if (g_USB_FileDir >= 0) {
        close(g_USB_FileDir);
        g_USB_FileDir = -1;
    }
    quitDisplayChangedEventLoop();
    closelog();
    if (g_libusbStarted) {
        libusb_exit(nullptr);
        g_libusbStarted = false;
    }
}

} // extern "C"
