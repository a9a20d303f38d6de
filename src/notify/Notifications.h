#pragma once
// USB hot-plug and display change notifications: the state the subscription shares with
// the notification thread, the signal handler and the display thread.
#include <jni.h>

#include <atomic>
#include <csignal>
#include <cstdint>
#include <ctime>
#include <sys/types.h>

// The Java VM while subscribed, null otherwise. It is the run flag of the notification
// thread and tells resize_cb whether to call Java.
extern std::atomic<JavaVM*> g_pjavaVM;
// quorvantelix/dm/DeviceDiscoveryService (a global reference) and its handleUSBHotPlugEvent.
extern jclass g_javaClass;
extern jmethodID g_javaMethod;
// The watched udev database directory; negative when it is not open.
extern int g_USB_FileDir;
// Directory signals since the last Java call.
extern std::atomic<int> g_USB_Signal;
// When the subscription began, later when the last hot-plug call to Java ended.
extern std::atomic<time_t> g_time_t;

// Kernel id of the current subscription's notification thread, which receives the
// directory signals; 0 until that thread has started.
extern std::atomic<pid_t> g_hotPlugThreadId;

// Number of the current subscription; every subscribe takes the next one. The threads a
// subscription starts get its number and end once it is no longer current, so that a
// quick unsubscribe and subscribe never leaves two of them running.
extern std::atomic<unsigned> g_subscription;

inline void* subscriptionArgument(unsigned subscription)
{
    return reinterpret_cast<void*>(static_cast<uintptr_t>(subscription));
}

inline unsigned subscriptionOf(void* argument)
{
    return static_cast<unsigned>(reinterpret_cast<uintptr_t>(argument));
}

// True while `subscription` is the subscription in force.
inline bool isSubscribed(unsigned subscription)
{
    return g_pjavaVM.load() != nullptr && g_subscription.load() == subscription;
}

// SIGRTMIN handler for the directory notification: counts the signal and records it for
// the notification thread to log. Async-signal-safe.
void USB_Changed_Callback(int sig, siginfo_t* si, void* context);

// The notification thread; its argument is the subscription number.
void* USB_Changed_Thread(void* subscription);

// The display thread; its argument is the subscription number.
void* startDisplayChangedEventThread(void* subscription);

// Ends the display thread's main loop, from any thread. Call it after g_pjavaVM was
// cleared; it reaches the loop even when the loop has not started yet.
void quitDisplayChangedEventLoop();
