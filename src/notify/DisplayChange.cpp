// Display change notification: a display thread running a GLib main loop for GDK, the
// drawing kit of GTK+ 2, that calls handleDisplayChangedEvent whenever the default screen
// changes its size.
//
// The library lives in someone else's JVM, so the display thread takes care that GTK
// never takes the process down or changes it behind the JVM's back:
// - GDK 2 is loaded only here, when the thread first needs it, and not at all when
//   GTK+ 3 (or 4) is already in the process: two GTK versions cannot share one process;
// - only GDK is initialised (gdk_init_check): GTK's own initialisation would set the
//   process's SIGPIPE disposition to "ignore", a handler the JVM owns and checks, and the
//   locale; GDK touches neither, and a screen's size changes need nothing else;
// - gdk_init_check fails where gtk_init would end the process: when there is no display;
// - X error handlers are per process: the library's own handle the errors of its own
//   display connection (logged, never fatal) and pass every other one to the handler that
//   was in force before, as if the library were not there (GDK's own would end the
//   process for an error of the application's toolkit);
// - an X I/O error handler that lets the loop end instead of exiting when the X server
//   goes away, and a later subscription opens a new connection;
// - the screen's size changes are taken from RandR's event before GDK sees them, so that
//   GDK never asks the server about its monitors, which crashes GDK when the server goes
//   away in the middle of the answers;
// - one display thread uses GDK at a time, and each removes its handler when its loop
//   ends, so every subscription starts from the same state.
#include "DisplayChange.h"

#include "JavaCall.h"
#include "Subscription.h"

#include <dlfcn.h>
#include <X11/extensions/Xrandr.h>
#include <gdk/gdkx.h>
#include <syslog.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <type_traits>

namespace nativesupport {

namespace {
// The GDK, GLib and Xlib functions the display thread uses, taken from libgdk-x11-2.0 and
// the libraries it brings along.
#define NS_GTK2_FUNCTIONS(X) \
    X(gdk_init_check) \
    X(g_main_loop_new) \
    X(g_main_loop_run) \
    X(g_main_loop_quit) \
    X(g_main_loop_unref) \
    X(g_main_context_pending) \
    X(g_main_context_iteration) \
    X(gdk_screen_get_default) \
    X(gdk_screen_get_width) \
    X(gdk_screen_get_height) \
    X(gdk_x11_get_default_xdisplay) \
    X(gdk_display_get_default) \
    X(gdk_display_open) \
    X(gdk_display_close) \
    X(gdk_display_manager_get) \
    X(gdk_display_manager_set_default_display) \
    X(g_signal_connect_data) \
    X(g_signal_handler_disconnect) \
    X(g_idle_add) \
    X(g_source_remove) \
    X(XSetErrorHandler) \
    X(XSetIOErrorHandler) \
    X(XSetIOErrorExitHandler) /* libX11 1.7 or later */ \
    X(gdk_window_add_filter) \
    X(g_signal_emit_by_name) \
    X(XRRQueryExtension) \
    X(XRRUpdateConfiguration)

struct Gtk2 {
#define NS_GTK2_FUNCTION(name) decltype(&::name) name = nullptr;
    NS_GTK2_FUNCTIONS(NS_GTK2_FUNCTION)
#undef NS_GTK2_FUNCTION
};

Gtk2 g_gtk;               // filled once, by the first display thread that needs it
bool g_gtkLoaded = false; // guarded by g_gtkMutex

// Held by a display thread for as long as it uses GDK: one at a time.
std::mutex g_gtkMutex;

// The display thread's X connection, and whether the X server went away from under it.
// Written by the display thread (one at a time); the error handlers read g_xdisplay on
// whichever thread reads an X connection.
bool g_gdkInitialised = false;
bool g_displayLost = false;
std::atomic<Display*> g_xdisplay{nullptr};
std::atomic<XErrorHandler> g_previousErrorHandler{nullptr};
std::atomic<XIOErrorHandler> g_previousIOErrorHandler{nullptr};
GMainLoop* g_runningLoop = nullptr;            // display thread only: the loop it runs
int g_randrEventBase = -1;                     // display thread only: RandR's first event code

bool otherGtkLoaded()
{
    for (const char* soname : {"libgtk-3.so.0", "libgdk-3.so.0", "libgtk-4.so.1"}) {
        if (void* handle = dlopen(soname, RTLD_LAZY | RTLD_NOLOAD)) {
            dlclose(handle);
            return true;
        }
    }
    return false;
}

// GDK is never unloaded: it cannot be, once initialised.
bool loadGtk2()
{
    if (g_gtkLoaded)
        return true;
    void* gdk = dlopen("libgdk-x11-2.0.so.0", RTLD_LAZY | RTLD_LOCAL);
    if (gdk == nullptr) {
        syslog(LOG_INFO, "NATIVESUPPORT: startDisplayChangedEventThread(): GTK+ 2 could not be loaded (%s).\n", dlerror());
        return false;
    }
    Gtk2 api;
    bool complete = true;
    auto take = [&](auto& function, const char* name) {
        function = reinterpret_cast<std::remove_reference_t<decltype(function)>>(dlsym(gdk, name));
        complete = complete && function != nullptr;
    };
#define NS_GTK2_TAKE(name) take(api.name, #name);
    NS_GTK2_FUNCTIONS(NS_GTK2_TAKE)
#undef NS_GTK2_TAKE
    if (!complete) {
        syslog(LOG_INFO, "NATIVESUPPORT: startDisplayChangedEventThread(): GTK+ 2 or Xlib lacks a function it needs.\n");
        return false;
    }
    g_gtk = api;
    g_gtkLoaded = true;
    return true;
}

int onXError(Display* display, XErrorEvent* error)
{
    if (display != g_xdisplay.load()) {
        const XErrorHandler previous = g_previousErrorHandler.load();
        return previous != nullptr ? previous(display, error) : 0;
    }
    syslog(LOG_INFO, "NATIVESUPPORT: startDisplayChangedEventThread(): X error %d (request %d.%d) on the display "
                     "connection, ignored.\n", error->error_code, error->request_code, error->minor_code);
    return 0;
}

int onXIOError(Display* display)
{
    const XIOErrorHandler previous = g_previousIOErrorHandler.load();
    if (display != g_xdisplay.load() && previous != nullptr)
        return previous(display);
    syslog(LOG_INFO, "NATIVESUPPORT: startDisplayChangedEventThread(): the connection to the X server was lost. "
                     "Display changes are no longer reported.\n");
    return 0;
}

// Called by Xlib instead of exit() after onXIOError, on the display thread. The
// connection is dead from here on; the loop ends.
void onXIOErrorExit(Display*, void*)
{
    g_displayLost = true;
    if (g_runningLoop != nullptr)
        g_gtk.g_main_loop_quit(g_runningLoop);
}

// Puts the library's X error handlers in force. Before GDK starts, the ones they replace
// are kept for the errors of other connections; GDK then puts its own in, and ours go on
// top of them again without keeping GDK's, which would end the process for such an error.
void takeXErrors(bool keepPrevious)
{
    const XErrorHandler previous = g_gtk.XSetErrorHandler(onXError);
    const XIOErrorHandler previousIO = g_gtk.XSetIOErrorHandler(onXIOError);
    if (!keepPrevious)
        return;
    if (previous != onXError)
        g_previousErrorHandler = previous;
    if (previousIO != onXIOError)
        g_previousIOErrorHandler = previousIO;
}

// The screen's size changes, taken before GDK sees them. GDK answers one by asking the
// server about every monitor again, and takes each answer as given: when the server goes
// away in the middle, an answer is null and GDK crashes. The size is all that is needed,
// and it comes with the event itself: Xlib's copy of the screen is brought up to date and
// "size-changed" goes out as GDK would send it. Once the server has gone, no event goes on.
GdkFilterReturn takeScreenChange(GdkXEvent* xevent, GdkEvent*, gpointer)
{
    if (g_displayLost)
        return GDK_FILTER_REMOVE;
    XEvent* event = static_cast<XEvent*>(xevent);
    if (g_randrEventBase < 0 || event->type != g_randrEventBase + RRScreenChangeNotify)
        return GDK_FILTER_CONTINUE;
    GdkScreen* screen = g_gtk.gdk_screen_get_default();
    const gint width = g_gtk.gdk_screen_get_width(screen);
    const gint height = g_gtk.gdk_screen_get_height(screen);
    g_gtk.XRRUpdateConfiguration(event);
    if (width != g_gtk.gdk_screen_get_width(screen) || height != g_gtk.gdk_screen_get_height(screen))
        g_gtk.g_signal_emit_by_name(screen, "size-changed");
    return GDK_FILTER_REMOVE;
}

// GDK with a live connection to the X server: started the first time, or, after the server
// went away, with a new connection in place of the one closed then.
bool openDisplay()
{
    takeXErrors(true);   // the handlers in force before GDK's are the ones to pass errors to
    if (!g_gdkInitialised) {
        if (!g_gtk.gdk_init_check(nullptr, nullptr))
            return false;
        g_gdkInitialised = true;
        g_gtk.gdk_window_add_filter(nullptr, takeScreenChange, nullptr);   // for every display, for good
    } else if (g_displayLost) {
        GdkDisplay* fresh = g_gtk.gdk_display_open(nullptr);
        if (fresh == nullptr)
            return false;
        g_gtk.gdk_display_manager_set_default_display(g_gtk.gdk_display_manager_get(), fresh);
        g_displayLost = false;
    }
    takeXErrors(false);
    Display* display = g_gtk.gdk_x11_get_default_xdisplay();
    if (display != g_xdisplay.load()) {
        g_xdisplay = display;
        g_gtk.XSetIOErrorExitHandler(display, onXIOErrorExit, nullptr);
        int errorBase = 0;
        if (!g_gtk.XRRQueryExtension(display, &g_randrEventBase, &errorBase))
            g_randrEventBase = -1;
    }
    return true;
}

// A connection whose server went away is closed by the thread that was reading it; any
// other thread would wait for that reader forever.
void closeLostDisplay()
{
    g_gtk.gdk_display_close(g_gtk.gdk_display_get_default());
    g_xdisplay = nullptr;
}

// What the display thread's loop needs at its start: the subscription, and the loop.
struct LoopStart {
    Subscription* subscription;
    GMainLoop* loop;
    bool ran;
};

// Runs first in the loop: a close that came before the loop ran is seen here, and one that
// comes later finds the loop running.
gboolean loopStarted(gpointer data)
{
    LoopStart* start = static_cast<LoopStart*>(data);
    start->ran = true;
    if (!start->subscription->enterDisplayLoop(start->loop))
        g_gtk.g_main_loop_quit(start->loop);
    return FALSE;
}
}

void resize_cb(GdkScreen* screen, gpointer data)
{
    Subscription* subscription = static_cast<Subscription*>(data);
    syslog(LOG_INFO, "NATIVESUPPORT: resize_cb(): called.\n");
    const long height = g_gtk.gdk_screen_get_height(screen);
    const long width = g_gtk.gdk_screen_get_width(screen);
    syslog(LOG_INFO, "NATIVESUPPORT: resize_cb(): screen width %ld", width);
    syslog(LOG_INFO, "NATIVESUPPORT: resize_cb(): screen height %ld", height);
    if (subscription->isClosed())
        return;
    callStaticVoid(subscription->vm(), subscription->javaClass(), subscription->displayMethod(),
                   "handleDisplayChangedEvent()", nullptr,
                   "Native Java sendJNIDisplayReconfigurationEvent() Detached JNIEnv\n");
}

void* startDisplayChangedEventThread(void* argument)
{
    auto* held = static_cast<std::shared_ptr<Subscription>*>(argument);
    std::shared_ptr<Subscription> subscription = std::move(*held);
    delete held;
    syslog(LOG_INFO, "NATIVESUPPORT: startDisplayChangedEventThread(): Entered.\n");
    std::lock_guard<std::mutex> gdkOwner(g_gtkMutex);   // the previous display thread has finished
    if (subscription->isClosed())
        return nullptr;
    if (otherGtkLoaded()) {
        syslog(LOG_INFO, "NATIVESUPPORT: startDisplayChangedEventThread(): GTK+ 3 is loaded in this process, "
                         "GTK+ 2 cannot join it. Display changes are not reported.\n");
        return nullptr;
    }
    if (!loadGtk2())
        return nullptr;
    if (!openDisplay()) {
        syslog(LOG_INFO, "NATIVESUPPORT: startDisplayChangedEventThread(): cannot open the display. "
                         "Display changes are not reported.\n");
        return nullptr;
    }

    // What the X server reported while no subscription listened (the connection stays open
    // between subscriptions) is taken in first: a subscription hears of its own changes only.
    while (g_gtk.g_main_context_pending(nullptr))
        g_gtk.g_main_context_iteration(nullptr, FALSE);
    GdkScreen* screen = g_gtk.gdk_screen_get_default();
    const gulong handler = g_gtk.g_signal_connect_data(screen, "size-changed", G_CALLBACK(resize_cb),
                                                        subscription.get(), nullptr, static_cast<GConnectFlags>(0));
    syslog(LOG_INFO, "NATIVESUPPORT: startDisplayChangedEventThread(): call back created.\n");
    GMainLoop* loop = g_gtk.g_main_loop_new(nullptr, FALSE);
    LoopStart start = {subscription.get(), loop, false};
    const guint started = g_gtk.g_idle_add(loopStarted, &start);
    g_runningLoop = loop;
    if (!g_displayLost)
        g_gtk.g_main_loop_run(loop);
    g_runningLoop = nullptr;
    if (!start.ran)
        g_gtk.g_source_remove(started);   // the loop ended before it ran: it must not run in the next one
    subscription->leaveDisplayLoop();
    g_gtk.g_main_loop_unref(loop);
    g_gtk.g_signal_handler_disconnect(screen, handler);
    if (g_displayLost)
        closeLostDisplay();
    return nullptr;
}

void quitDisplayLoop(GMainLoop* loop)
{
    g_gtk.g_main_loop_quit(loop);
}

} // namespace nativesupport
