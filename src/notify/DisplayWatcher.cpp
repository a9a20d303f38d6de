// The display thread. It opens its own connection to the X server with XCB, selects
// RandR's screen change notification on the root window and sleeps in poll(2) on the
// connection and on an eventfd that stop() writes: nothing wakes it while nothing changes.
//
// The library lives in someone else's process, so the thread keeps to what it owns:
// - XCB keeps errors on the connection that caused them: no X error handler of the process
//   is read or replaced, and no Xlib is initialised for threads;
// - libxcb and libxcb-randr are loaded with dlopen when first needed: the library loads on
//   a machine without them, and the display thread then says why it does not watch;
// - SIGPIPE is blocked on this thread alone: a write to a server that has gone away never
//   reaches the process's handler;
// - when the server goes away, or is not there at the start, one line says so and the
//   thread connects again after 1 s, then 2, 4, ... up to 30 s between tries, until stop().
//   Without DISPLAY it ends at once.
#include "DisplayWatcher.h"

#include "DetachedThread.h"

#include <dlfcn.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <syslog.h>
#include <time.h>
#include <unistd.h>
#include <xcb/randr.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <string>
#include <type_traits>

namespace nativesupport {

namespace {
constexpr int kFirstRetryMillis = 1000;
constexpr int kLastRetryMillis = 30000;

// The XCB functions the display thread uses, from libxcb and libxcb-randr.
#define NS_XCB_FUNCTIONS(X) \
    X(xcb_connect) \
    X(xcb_disconnect) \
    X(xcb_connection_has_error) \
    X(xcb_get_file_descriptor) \
    X(xcb_get_setup) \
    X(xcb_setup_roots_iterator) \
    X(xcb_screen_next) \
    X(xcb_flush) \
    X(xcb_poll_for_event) \
    X(xcb_get_extension_data) \
    X(xcb_request_check) \
    X(xcb_get_geometry) \
    X(xcb_get_geometry_reply) \
    X(xcb_randr_query_version) \
    X(xcb_randr_query_version_reply) \
    X(xcb_randr_select_input_checked)

struct Xcb {
#define NS_XCB_FUNCTION(name) decltype(&::name) name = nullptr;
    NS_XCB_FUNCTIONS(NS_XCB_FUNCTION)
#undef NS_XCB_FUNCTION
    xcb_extension_t* randr = nullptr;   // xcb_randr_id
    std::string failure;                // why it could not be loaded, when it could not
};

// Loaded once for the process and never unloaded.
const Xcb& xcbLibrary()
{
    static const Xcb loaded = [] {
        Xcb xcb;
        // libxcb-randr brings libxcb along, and its handle finds the functions of both.
        void* randr = dlopen("libxcb-randr.so.0", RTLD_NOW | RTLD_LOCAL);
        if (randr == nullptr) {
            xcb.failure = dlerror();
            return xcb;
        }
        bool complete = true;
        auto take = [&](auto& function, const char* name) {
            void* found = dlsym(randr, name);
            function = reinterpret_cast<std::remove_reference_t<decltype(function)>>(found);
            complete = complete && found != nullptr;
        };
#define NS_XCB_TAKE(name) take(xcb.name, #name);
        NS_XCB_FUNCTIONS(NS_XCB_TAKE)
#undef NS_XCB_TAKE
        xcb.randr = static_cast<xcb_extension_t*>(dlsym(randr, "xcb_randr_id"));
        if (!complete || xcb.randr == nullptr)
            xcb.failure = "a function is missing";
        return xcb;
    }();
    return loaded;
}

void logLine(const char* text)
{
    syslog(LOG_INFO, "NATIVESUPPORT: startDisplayChangedEventThread(): %s\n", text);
}

struct Size {
    long width = -1;
    long height = -1;
    bool operator!=(const Size& other) const { return width != other.width || height != other.height; }
};

// A reply or event of XCB's, freed with free().
template <typename T>
struct Freed {
    T* p;
    explicit Freed(T* got) : p(got) {}
    ~Freed() { free(p); }
    Freed(const Freed&) = delete;
    Freed& operator=(const Freed&) = delete;
};
}

struct DisplayWatcher::State {
    SizeChanged onSizeChanged;
    std::string display;       // DISPLAY when the watch started
    int wake = -1;             // an eventfd, written by stop()
    std::atomic<bool> stopped{false};
    Size reported;             // display thread only: the size Java knows

    ~State()
    {
        if (wake >= 0)
            ::close(wake);
    }

    void run();
    bool waitForStop(int millis) const;
    enum class Ending { Stopped, Lost, NotOpened };
    Ending watch(const Xcb& xcb);
    Ending watchScreen(const Xcb& xcb, xcb_connection_t* c, xcb_window_t root, uint8_t firstEvent);
    void sizeSeen(Size size);
};

namespace {
void* startDisplayChangedEventThread(void* argument)
{
    const std::shared_ptr<DisplayWatcher::State> state = takeThreadState<DisplayWatcher::State>(argument);
    runToTheEnd("NATIVESUPPORT: startDisplayChangedEventThread(): an unexpected error ended the display thread.  "
                "Display changes are no longer reported.",
                [&] { state->run(); });
    return nullptr;
}
}

void DisplayWatcher::State::run()
{
    logLine("Entered.");
    const Xcb& xcb = xcbLibrary();
    if (!xcb.failure.empty()) {
        syslog(LOG_INFO, "NATIVESUPPORT: startDisplayChangedEventThread(): XCB could not be loaded (%s). "
                         "Display changes are not reported.\n", xcb.failure.c_str());
        return;
    }
    bool outage = false;   // a line already said that the server is not there
    int retry = kFirstRetryMillis;
    while (!stopped) {
        const Ending ending = watch(xcb);
        if (ending == Ending::Stopped)
            return;
        if (ending == Ending::Lost) {
            logLine("the connection to the X server was lost. Display changes are not reported until it is back.");
            outage = true;
            retry = kFirstRetryMillis;
        } else if (!outage) {
            logLine("cannot open the display. Display changes are not reported.");
            outage = true;
        }
        if (display.empty() || waitForStop(retry))
            return;   // no display named: nothing to try again
        retry = std::min(retry * 2, kLastRetryMillis);
    }
}

// Sleeps until stop() or for `millis` on the monotonic clock; true when stopped.
bool DisplayWatcher::State::waitForStop(int millis) const
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    const long long deadline = now.tv_sec * 1000LL + now.tv_nsec / 1000000 + millis;
    for (;;) {
        if (stopped)
            return true;
        clock_gettime(CLOCK_MONOTONIC, &now);
        const long long left = deadline - (now.tv_sec * 1000LL + now.tv_nsec / 1000000);
        if (left <= 0)
            return false;
        pollfd woken = {wake, POLLIN, 0};
        poll(&woken, 1, static_cast<int>(left));
    }
}

// One connection, from its opening to its end. NotOpened: no server answered, or it
// answered without RandR's screen change notification.
DisplayWatcher::State::Ending DisplayWatcher::State::watch(const Xcb& xcb)
{
    if (display.empty())
        return Ending::NotOpened;
    int screenNumber = 0;
    xcb_connection_t* c = xcb.xcb_connect(display.c_str(), &screenNumber);
    struct Disconnect {
        const Xcb& xcb;
        xcb_connection_t* c;
        ~Disconnect() { xcb.xcb_disconnect(c); }   // takes the failed connection XCB returns, too
    } disconnect{xcb, c};
    if (const int error = xcb.xcb_connection_has_error(c)) {
        if (error == XCB_CONN_CLOSED_PARSE_ERR)
            display.clear();   // DISPLAY names no display: nothing to try again
        return Ending::NotOpened;
    }
    xcb_screen_iterator_t screens = xcb.xcb_setup_roots_iterator(xcb.xcb_get_setup(c));
    for (int i = 0; i < screenNumber && screens.rem > 0; i++)
        xcb.xcb_screen_next(&screens);
    const xcb_query_extension_reply_t* randr = xcb.xcb_get_extension_data(c, xcb.randr);
    if (screens.rem <= 0 || randr == nullptr || !randr->present)
        return Ending::NotOpened;
    const xcb_window_t root = screens.data->root;
    Freed<xcb_randr_query_version_reply_t> version(
        xcb.xcb_randr_query_version_reply(c, xcb.xcb_randr_query_version(c, 1, 2), nullptr));
    Freed<xcb_generic_error_t> refused(xcb.xcb_request_check(
        c, xcb.xcb_randr_select_input_checked(c, root, XCB_RANDR_NOTIFY_MASK_SCREEN_CHANGE)));
    if (version.p == nullptr || refused.p != nullptr)
        return Ending::NotOpened;
    return watchScreen(xcb, c, root, randr->first_event);
}

// The screen's changes until stop() or the end of the connection. The size first: the
// notification is selected, so no change after this answer is missed.
DisplayWatcher::State::Ending DisplayWatcher::State::watchScreen(const Xcb& xcb, xcb_connection_t* c,
                                                                 xcb_window_t root, uint8_t firstEvent)
{
    Freed<xcb_get_geometry_reply_t> geometry(xcb.xcb_get_geometry_reply(c, xcb.xcb_get_geometry(c, root), nullptr));
    if (geometry.p == nullptr)
        return Ending::NotOpened;
    logLine("call back created.");
    const Size now = {geometry.p->width, geometry.p->height};
    if (reported.width < 0)
        reported = now;   // the size at the start is no change
    else
        sizeSeen(now);    // a server come back, with a screen of another size
    pollfd fds[2] = {{xcb.xcb_get_file_descriptor(c), POLLIN, 0}, {wake, POLLIN, 0}};
    for (;;) {
        while (xcb_generic_event_t* got = xcb.xcb_poll_for_event(c)) {
            Freed<xcb_generic_event_t> event(got);
            if ((event.p->response_type & 0x7f) != firstEvent + XCB_RANDR_SCREEN_CHANGE_NOTIFY || stopped)
                continue;
            // RandR's event gives the screen's size before rotation.
            const auto* change = reinterpret_cast<const xcb_randr_screen_change_notify_event_t*>(event.p);
            const bool turned = change->rotation & (XCB_RANDR_ROTATION_ROTATE_90 | XCB_RANDR_ROTATION_ROTATE_270);
            sizeSeen(turned ? Size{change->height, change->width} : Size{change->width, change->height});
        }
        if (stopped)
            return Ending::Stopped;
        if (xcb.xcb_connection_has_error(c) != 0)
            return Ending::Lost;
        xcb.xcb_flush(c);
        poll(fds, 2, -1);
    }
}

void DisplayWatcher::State::sizeSeen(Size size)
{
    if (!(size != reported) || stopped)
        return;
    reported = size;
    syslog(LOG_INFO, "NATIVESUPPORT: resize_cb(): called.\n");
    syslog(LOG_INFO, "NATIVESUPPORT: resize_cb(): screen width %ld", size.width);
    syslog(LOG_INFO, "NATIVESUPPORT: resize_cb(): screen height %ld", size.height);
    onSizeChanged(size.width, size.height);
}

DisplayWatcher::DisplayWatcher(SizeChanged onSizeChanged) : m_state(std::make_shared<State>())
{
    m_state->onSizeChanged = std::move(onSizeChanged);
}

DisplayWatcher::~DisplayWatcher()
{
    stop();
}

bool DisplayWatcher::start()
{
    const char* display = getenv("DISPLAY");
    m_state->display = display != nullptr ? display : "";
    m_state->wake = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_state->wake < 0)
        return false;
    sigset_t blocked;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGPIPE);
    return startDetachedThread(startDisplayChangedEventThread, m_state, "ns-display", blocked);
}

void DisplayWatcher::stop()
{
    if (m_state->stopped.exchange(true) || m_state->wake < 0)
        return;
    const uint64_t one = 1;
    (void)!write(m_state->wake, &one, sizeof one);
}

} // namespace nativesupport
