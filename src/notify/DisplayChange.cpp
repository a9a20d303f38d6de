// Display change notification: a display thread running a GTK+ 2 main loop that calls
// handleDisplayChangedEvent whenever the default screen changes its size.
//
// The library lives in someone else's JVM, so the display thread takes care that GTK
// never takes the process down or changes it behind the JVM's back:
// - GTK+ 2 is loaded only here, when the thread first needs it, and not at all when
//   GTK+ 3 (or 4) is already in the process: two GTK versions cannot share one process;
// - gtk_init_check instead of gtk_init, which ends the process when there is no display;
// - an X I/O error handler that lets the loop end instead of exiting when the X server
//   goes away;
// - the locale and the SIGPIPE disposition stay as the JVM set them;
// - one display thread uses GTK at a time, and each removes its handler and window when
//   its loop ends, so every subscription starts from the same state.
#include "Notifications.h"

#include <dlfcn.h>
#include <gdk/gdkx.h>
#include <gtk/gtk.h>
#include <syslog.h>

#include <mutex>
#include <type_traits>

namespace {
const char* const kDiscoveryClass = "quorvantelix/dm/DeviceDiscoveryService";

// The GTK+ 2, GDK, GLib and Xlib functions the display thread uses, taken from
// libgtk-x11-2.0 and the libraries it brings along.
struct Gtk2 {
#define NS_GTK2_FUNCTION(name) decltype(&::name) name = nullptr
    NS_GTK2_FUNCTION(gtk_disable_setlocale);
    NS_GTK2_FUNCTION(gtk_init_check);
    NS_GTK2_FUNCTION(gtk_main);
    NS_GTK2_FUNCTION(gtk_main_quit);
    NS_GTK2_FUNCTION(gtk_main_level);
    NS_GTK2_FUNCTION(gtk_window_new);
    NS_GTK2_FUNCTION(gtk_widget_destroy);
    NS_GTK2_FUNCTION(gdk_screen_get_default);
    NS_GTK2_FUNCTION(gdk_screen_get_width);
    NS_GTK2_FUNCTION(gdk_screen_get_height);
    NS_GTK2_FUNCTION(gdk_x11_get_default_xdisplay);
    NS_GTK2_FUNCTION(g_signal_connect_data);
    NS_GTK2_FUNCTION(g_signal_handler_disconnect);
    NS_GTK2_FUNCTION(g_idle_add);
    NS_GTK2_FUNCTION(XSetIOErrorHandler);
    NS_GTK2_FUNCTION(XSetIOErrorExitHandler);
#undef NS_GTK2_FUNCTION
};

Gtk2 g_gtk;               // filled once, by the first display thread that needs it
bool g_gtkLoaded = false; // guarded by g_gtkMutex

// Held by a display thread for as long as it uses GTK.
std::mutex g_gtkMutex;

// Display threads and unsubscribe agree here on whether a main loop runs, and whose.
std::mutex g_loopMutex;
unsigned g_loopSubscription = 0;   // guarded by g_loopMutex; 0 when no loop runs

// Set, on the display thread, once the X server went away. GTK+ 2 cannot open its
// default display again, so display changes stay unreported from then on.
std::atomic<bool> g_displayLost{false};
Display* g_xdisplay = nullptr;                 // the display thread's X connection
XIOErrorHandler g_previousIOErrorHandler = nullptr;

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

// GTK+ 2 is never unloaded: it cannot be, once initialised.
bool loadGtk2()
{
    if (g_gtkLoaded)
        return true;
    void* gtk = dlopen("libgtk-x11-2.0.so.0", RTLD_LAZY | RTLD_LOCAL);
    if (gtk == nullptr) {
        syslog(LOG_INFO, "NATIVESUPPORT: startDisplayChangedEventThread(): GTK+ 2 could not be loaded (%s).\n", dlerror());
        return false;
    }
    Gtk2 api;
    bool complete = true;
    auto take = [&](auto& function, const char* name) {
        function = reinterpret_cast<std::remove_reference_t<decltype(function)>>(dlsym(gtk, name));
        complete = complete && function != nullptr;
    };
#define NS_GTK2_TAKE(name) take(api.name, #name)
    NS_GTK2_TAKE(gtk_disable_setlocale);
    NS_GTK2_TAKE(gtk_init_check);
    NS_GTK2_TAKE(gtk_main);
    NS_GTK2_TAKE(gtk_main_quit);
    NS_GTK2_TAKE(gtk_main_level);
    NS_GTK2_TAKE(gtk_window_new);
    NS_GTK2_TAKE(gtk_widget_destroy);
    NS_GTK2_TAKE(gdk_screen_get_default);
    NS_GTK2_TAKE(gdk_screen_get_width);
    NS_GTK2_TAKE(gdk_screen_get_height);
    NS_GTK2_TAKE(gdk_x11_get_default_xdisplay);
    NS_GTK2_TAKE(g_signal_connect_data);
    NS_GTK2_TAKE(g_signal_handler_disconnect);
    NS_GTK2_TAKE(g_idle_add);
    NS_GTK2_TAKE(XSetIOErrorHandler);
    NS_GTK2_TAKE(XSetIOErrorExitHandler);   // libX11 1.7 or later
#undef NS_GTK2_TAKE
    if (!complete) {
        syslog(LOG_INFO, "NATIVESUPPORT: startDisplayChangedEventThread(): GTK+ 2 or Xlib lacks a function it needs.\n");
        return false;
    }
    g_gtk = api;
    g_gtkLoaded = true;
    return true;
}

// Puts SIGPIPE back as it was when GTK (through GIO) set it to be ignored: the JVM
// installs its own handler there.
class SigpipeDisposition {
public:
    SigpipeDisposition() { m_saved = sigaction(SIGPIPE, nullptr, &m_disposition) == 0; }
    ~SigpipeDisposition() { restore(); }
    SigpipeDisposition(const SigpipeDisposition&) = delete;
    SigpipeDisposition& operator=(const SigpipeDisposition&) = delete;

    void restore()
    {
        struct sigaction now = {};
        if (m_saved && sigaction(SIGPIPE, nullptr, &now) == 0 && now.sa_handler == SIG_IGN
            && m_disposition.sa_handler != SIG_IGN)
            sigaction(SIGPIPE, &m_disposition, nullptr);
    }

private:
    struct sigaction m_disposition = {};
    bool m_saved = false;
};

int onXIOError(Display* display)
{
    if (display != g_xdisplay && g_previousIOErrorHandler != nullptr)
        return g_previousIOErrorHandler(display);
    syslog(LOG_INFO, "NATIVESUPPORT: startDisplayChangedEventThread(): the connection to the X server was lost. "
                     "Display changes are no longer reported.\n");
    return 0;
}

// Called by Xlib instead of exit() after onXIOError, on the display thread. The
// connection is dead from here on; the loop ends.
void onXIOErrorExit(Display*, void*)
{
    g_displayLost.store(true);
    if (g_gtk.gtk_main_level() > 0)
        g_gtk.gtk_main_quit();
}

bool initGtk()
{
    static bool localeKept = false;   // the JVM's locale; GTK may be told only before its first init
    if (!localeKept) {
        g_gtk.gtk_disable_setlocale();
        localeKept = true;
    }
    if (!g_gtk.gtk_init_check(nullptr, nullptr))
        return false;
    Display* display = g_gtk.gdk_x11_get_default_xdisplay();
    if (display != g_xdisplay) {
        g_xdisplay = display;
        XIOErrorHandler previous = g_gtk.XSetIOErrorHandler(onXIOError);
        if (previous != onXIOError)
            g_previousIOErrorHandler = previous;
        g_gtk.XSetIOErrorExitHandler(display, onXIOErrorExit, nullptr);
    }
    return true;
}

// Ends the loop that runs, unless it belongs to the subscription in force. Runs on the
// display thread, as a GLib idle source.
gboolean quitUnsubscribedLoop(gpointer)
{
    std::lock_guard<std::mutex> lock(g_loopMutex);
    if (g_loopSubscription != 0 && !isSubscribed(g_loopSubscription))
        g_gtk.gtk_main_quit();
    return FALSE;
}

bool enterLoop(unsigned subscription)
{
    std::lock_guard<std::mutex> lock(g_loopMutex);
    if (!isSubscribed(subscription) || g_displayLost.load())
        return false;   // unsubscribed before the loop could start
    g_loopSubscription = subscription;
    return true;
}

void leaveLoop()
{
    std::lock_guard<std::mutex> lock(g_loopMutex);
    g_loopSubscription = 0;
}

void callDisplayChangedHandler(JavaVM* vm)
{
    JNIEnv* env = nullptr;
    if (vm->AttachCurrentThread(reinterpret_cast<void**>(&env), nullptr) != JNI_OK)
        env = nullptr;
    if (env != nullptr) {
        jclass service = env->FindClass(kDiscoveryClass);
        jmethodID method = service != nullptr ? env->GetStaticMethodID(service, "handleDisplayChangedEvent", "()V")
                                              : nullptr;
        if (method != nullptr)
            env->CallStaticVoidMethod(service, method);
    }
    vm->DetachCurrentThread();
    syslog(LOG_INFO, "Native Java sendJNIDisplayReconfigurationEvent() Detached JNIEnv\n");
}
}

void resize_cb(GdkScreen* screen, gpointer)
{
    syslog(LOG_INFO, "NATIVESUPPORT: resize_cb(): called.\n");
    const long height = g_gtk.gdk_screen_get_height(screen);
    const long width = g_gtk.gdk_screen_get_width(screen);
    syslog(LOG_INFO, "NATIVESUPPORT: resize_cb(): screen width %ld", width);
    syslog(LOG_INFO, "NATIVESUPPORT: resize_cb(): screen height %ld", height);
    if (JavaVM* vm = g_pjavaVM.load())
        callDisplayChangedHandler(vm);
}

void* startDisplayChangedEventThread(void* subscription)
{
    const unsigned mine = subscriptionOf(subscription);
    syslog(LOG_INFO, "NATIVESUPPORT: startDisplayChangedEventThread(): Entered.\n");
    std::lock_guard<std::mutex> gtkOwner(g_gtkMutex);   // the previous display thread has finished
    if (!isSubscribed(mine))
        return nullptr;
    if (otherGtkLoaded()) {
        syslog(LOG_INFO, "NATIVESUPPORT: startDisplayChangedEventThread(): GTK+ 3 is loaded in this process, "
                         "GTK+ 2 cannot join it. Display changes are not reported.\n");
        return nullptr;
    }
    if (g_displayLost.load()) {
        syslog(LOG_INFO, "NATIVESUPPORT: startDisplayChangedEventThread(): the connection to the X server was lost "
                         "earlier. Display changes are not reported.\n");
        return nullptr;
    }
    if (!loadGtk2())
        return nullptr;

    SigpipeDisposition sigpipe;
    if (!initGtk()) {
        syslog(LOG_INFO, "NATIVESUPPORT: startDisplayChangedEventThread(): cannot open the display. "
                         "Display changes are not reported.\n");
        return nullptr;
    }
    sigpipe.restore();

    GdkScreen* screen = g_gtk.gdk_screen_get_default();
    GtkWidget* window = g_gtk.gtk_window_new(GTK_WINDOW_TOPLEVEL);
    const gulong handler = g_gtk.g_signal_connect_data(screen, "size-changed", G_CALLBACK(resize_cb), window,
                                                        nullptr, static_cast<GConnectFlags>(0));
    syslog(LOG_INFO, "NATIVESUPPORT: startDisplayChangedEventThread(): call back created.\n");
    if (enterLoop(mine)) {
        g_gtk.gtk_main();
        leaveLoop();
    }
    g_gtk.g_signal_handler_disconnect(screen, handler);
    g_gtk.gtk_widget_destroy(window);
    return nullptr;
}

void quitDisplayChangedEventLoop()
{
    std::lock_guard<std::mutex> lock(g_loopMutex);
    // A loop that runs, or is about to: the idle source ends it once it runs, however
    // late that is. With no loop, the display thread sees the unsubscribe by itself.
    if (g_loopSubscription != 0)
        g_gtk.g_idle_add(quitUnsubscribedLoop, nullptr);
}
