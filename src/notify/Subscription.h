#pragma once
// One subscription to USB and display change events: what subscribeUSBChangeEvents opens
// and unsubscribeUSBChangeEvents closes, and everything its notification thread works
// with; it owns the display watcher, whose thread knows only the callback handed to it.
// Each subscription's threads touch only their own subscription, so a thread of an earlier
// one that is still inside a slow Java call cannot disturb a later one.
#include "LibUsbScope.h"

#include <jni.h>

#include <atomic>
#include <condition_variable>
#include <ctime>
#include <memory>
#include <mutex>
#include <sys/types.h>

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

    // Ends it: no Java call is made from here on, the threads end (the notification thread
    // within 5 ms unless it is inside a Java call; the display thread at once, or right
    // after its call), the watch and libusb's context close.
    void close();
    bool isClosed() const { return m_closed.load(); }

private:
    Subscription() = default;
    void lookUpCallbacks(JNIEnv* env);
    bool startThreads();
    void watchUdevDatabase();
    void startDisplayWatcher(const std::shared_ptr<Subscription>& self);
    void callDisplayHandler();

    // The notification thread (HotPlug.cpp).
    static void* USB_Changed_Thread(void* subscription);
    void notificationLoop();
    void waitForChanges();
    void takeSignals();
    void callHotPlugHandler();

    JavaVM* m_pjavaVM = nullptr;
    jclass m_javaClass = nullptr;          // DeviceDiscoveryService, a global reference
    jmethodID m_javaMethod = nullptr;      // handleUSBHotPlugEvent
    jmethodID m_displayMethod = nullptr;   // handleDisplayChangedEvent
    int m_USB_FileDir = -1;                // the watched udev database directory
    int m_signals = -1;                    // the directory's signals, as the notification thread takes them
    int m_wake = -1;                       // written once the subscription closes
    int m_USB_Signal = 0;                  // notification thread only: changes since the last Java call
    time_t m_time_t = 0;                   // notification thread only: when the last Java call ended
    std::atomic<bool> m_closed{false};
    std::unique_ptr<LibUsbContext> m_libusb;
    std::unique_ptr<DisplayWatcher> m_display;

    std::mutex m_mutex;                    // guards what follows
    std::condition_variable m_changed;
    pid_t m_notificationThread = 0;        // its kernel id, once it runs; -1 once it has ended
};

} // namespace nativesupport
