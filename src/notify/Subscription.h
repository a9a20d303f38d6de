#pragma once
// One subscription to USB and display change events: what subscribeUSBChangeEvents opens
// and unsubscribeUSBChangeEvents closes, and everything its notification thread works
// with; it owns the display watcher, whose thread knows only the callback handed to it.
// Each subscription's threads touch only their own subscription, so a thread of an earlier
// one that is still inside a slow Java call cannot disturb a later one.
#include "LibUsbScope.h"

#include <jni.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <pthread.h>

namespace nativesupport {

class DisplayWatcher;

class Subscription {
public:
    // Opens a subscription for the calling thread's VM: the udev database watch, the
    // notification and display threads, libusb's default context. Null when the VM or
    // the callback class cannot be had.
    static std::shared_ptr<Subscription> open(JNIEnv* env);
    ~Subscription();

    Subscription(const Subscription&) = delete;
    Subscription& operator=(const Subscription&) = delete;

    // Ends it: no Java call begins from here on, the threads end (the notification thread
    // before this returns, unless it is busy with a Java call, then right after that call;
    // the display thread at once, or right after its call), the watch and libusb's context
    // close.
    void close();
    bool isClosed() const { return m_closed.load(); }

private:
    Subscription() = default;
    void lookUpCallbacks(JNIEnv* env);
    static void startNotificationThread(const std::shared_ptr<Subscription>& subscription);
    void startDisplayWatcher(const std::shared_ptr<Subscription>& self);
    void callDisplayHandler();
    bool mayCallJava();

    // The notification thread (HotPlug.cpp).
    static void* USB_Changed_Thread(void* subscription);
    void notificationLoop();
    void endNotifying();
    void watchUdevDatabase();
    bool armWatch();
    void closeWatch();
    void waitForChanges();
    void takeSignals();
    void takeAppearances();
    void callHotPlugHandler();
    bool enterJava();
    void leaveJava();

    JavaVM* m_pjavaVM = nullptr;
    jclass m_javaClass = nullptr;          // DeviceDiscoveryService, a global reference
    jmethodID m_javaMethod = nullptr;      // handleUSBHotPlugEvent
    jmethodID m_displayMethod = nullptr;   // handleDisplayChangedEvent
    int m_signals = -1;                    // the directory's signals, as the notification thread takes them
    int m_wake = -1;                       // written once the subscription closes
    // Notification thread only: the watched udev database directory, the watch for it (or
    // its parents) to appear or go, the changes since the last Java call, and when that
    // call ended (or the subscription began) on the monotonic clock.
    int m_USB_FileDir = -1;
    int m_database = 0;                    // which database directory m_USB_FileDir is
    int m_appear = -1;
    int m_USB_Signal = 0;
    std::chrono::steady_clock::time_point m_time_t;
    std::atomic<bool> m_closed{false};     // written under m_mutex
    std::unique_ptr<LibUsbContext> m_libusb;
    std::unique_ptr<DisplayWatcher> m_display;

    std::mutex m_mutex;                    // guards what follows
    std::condition_variable m_changed;
    pthread_t m_notificationThread{};
    enum class Notifying { NotStarted, Starting, Watching, InJava, Ended };
    Notifying m_notifying = Notifying::NotStarted;
};

} // namespace nativesupport
