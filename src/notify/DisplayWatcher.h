#pragma once
// The display thread: watches the size of the X screen and hands every change to a
// callback. It speaks X itself over a connection of its own (XCB, loaded when first
// needed), so it shares nothing with the application's toolkit: no GTK, GDK or GLib, no
// Xlib error handler, nothing else of the process's.
#include <functional>
#include <memory>

namespace nativesupport {

class DisplayWatcher {
public:
    // Called on the display thread, once for each change of the screen's size (in pixels,
    // as the screen is turned), after the change's log lines.
    using SizeChanged = std::function<void(long width, long height)>;

    explicit DisplayWatcher(SizeChanged onSizeChanged);
    ~DisplayWatcher();   // stops the watch

    DisplayWatcher(const DisplayWatcher&) = delete;
    DisplayWatcher& operator=(const DisplayWatcher&) = delete;

    // Starts the display thread for the display that DISPLAY names now. False when no
    // thread could be started.
    bool start();
    // Ends the watch and returns at once: the thread makes no call that has not begun yet,
    // frees its connection and ends, right after a call under way.
    void stop();

    struct State;

private:
    std::shared_ptr<State> m_state;   // shared with the display thread, which may outlive this
};

} // namespace nativesupport
