#pragma once
// Display change notification: the display thread of a subscription.
typedef struct _GMainLoop GMainLoop;

namespace nativesupport {

// The display thread. Its argument is a heap-held std::shared_ptr<Subscription>, which it
// takes over.
void* startDisplayChangedEventThread(void* subscription);

// Ends a display thread's running loop; may be called from any thread.
void quitDisplayLoop(GMainLoop* loop);

} // namespace nativesupport
