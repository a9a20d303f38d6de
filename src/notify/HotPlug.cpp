// USB hot-plug: the notification thread of a subscription. It watches the udev database
// directory, takes the directory's signals and turns them into at most one
// handleUSBHotPlugEvent call every 3 seconds. It sleeps in the kernel until a signal comes,
// the quiet interval after the last call ends, the directory (or one of its parents) comes
// or goes, or the subscription closes: an idle subscription costs nothing. Every interval
// is measured on the monotonic clock, which a step of the wall clock leaves alone.
#include "DetachedThread.h"
#include "JavaCall.h"
#include "Subscription.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/signalfd.h>
#include <sys/stat.h>
#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <string>

namespace nativesupport {

namespace {
using Clock = std::chrono::steady_clock;
constexpr auto kQuietInterval = std::chrono::seconds(3);

// The udev database: where udev before version 174 kept it, else where it keeps it now.
const char* const kUdevDatabases[] = {"/dev/.udev/db", "/run/udev/data"};
// A parent from which the watched directory may go (the directory's own IN_DELETE_SELF
// waits for the last descriptor of it, the watch's own); a parent in which one may appear.
constexpr uint32_t kGone = IN_DELETE | IN_MOVED_FROM | IN_DELETE_SELF | IN_MOVE_SELF;
constexpr uint32_t kAppears = IN_CREATE | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF;
constexpr int kArmAttempts = 100;

// The directory's signal is taken by the notification thread, which keeps it blocked; this
// handler is there only so that a stray one delivered elsewhere never ends the process.
void USB_Changed_Callback(int, siginfo_t*, void*) {}

std::string parentOf(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The nearest directory of `path` and its parents that exists ("/" at the latest).
std::string nearestExisting(std::string path)
{
    struct stat st;
    while (path.size() > 1 && stat(path.c_str(), &st) != 0)
        path = parentOf(path);
    return path;
}

bool sameFile(int fd, const char* path)
{
    struct stat opened, named;
    return fstat(fd, &opened) == 0 && stat(path, &named) == 0 && opened.st_dev == named.st_dev &&
           opened.st_ino == named.st_ino;
}

// Whether the directory has an entry: made before its watch was armed, so not signalled.
bool hasEntries(int directory)
{
    const int fd = openat(directory, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* dir = fd >= 0 ? fdopendir(fd) : nullptr;
    if (dir == nullptr) {
        if (fd >= 0)
            close(fd);
        return false;
    }
    bool found = false;
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (name != "." && name != "..") {
            found = true;
            break;
        }
    }
    closedir(dir);
    return found;
}
}

void* Subscription::USB_Changed_Thread(void* argument)
{
    const std::shared_ptr<Subscription> subscription = takeThreadState<Subscription>(argument);
    if (!runToTheEnd("NATIVESUPPORT: USB hot-plug notification met an unexpected error.  USB devices that come "
                     "or go are no longer reported.",
                     [&] { subscription->notificationLoop(); }))
        subscription->endNotifying();
    return nullptr;
}

void Subscription::notificationLoop()
{
    watchUdevDatabase();
    m_USB_Signal = 0;   // what was there at subscribe is no change
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_notifying = Notifying::Watching;
    }
    m_changed.notify_all();
    while (!m_closed) {
        if (m_USB_Signal > 0 && Clock::now() >= m_time_t + kQuietInterval) {
            if (!enterJava())
                break;
            callHotPlugHandler();
            leaveJava();
            // Changes that came during the call are still queued: they are counted next,
            // and answered by a further call once the quiet interval has passed.
            m_USB_Signal = 0;
            m_time_t = Clock::now();
            continue;
        }
        waitForChanges();
    }
    endNotifying();
}

// The thread's last step, also after an error: a subscribe that waits for the watch goes on.
void Subscription::endNotifying()
{
    closeWatch();
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_notifying = Notifying::Ended;
    }
    m_changed.notify_all();
}

// Watches the first udev database directory that exists; where none does, watches the
// nearest existing parents of each for one to appear. A directory armed anew that already
// has entries counts as a change: they came before its signals could.
void Subscription::watchUdevDatabase()
{
    closeWatch();
    for (int attempt = 0; attempt < kArmAttempts; ++attempt) {
        if (armWatch()) {
            if (hasEntries(m_USB_FileDir))
                ++m_USB_Signal;
            return;
        }
        // The parents first, then a look again: a directory made meanwhile is not missed.
        m_appear = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        std::string watched[2];
        for (int i = 0; i < 2; ++i) {
            watched[i] = nearestExisting(kUdevDatabases[i]);
            inotify_add_watch(m_appear, watched[i].c_str(), kAppears | IN_ONLYDIR);
        }
        bool settled = true;
        for (int i = 0; i < 2; ++i)
            settled = settled && watched[i] != kUdevDatabases[i] && nearestExisting(kUdevDatabases[i]) == watched[i];
        if (settled)
            return;
        closeWatch();
    }
}

// Directory notification for created and deleted entries of the first database directory
// that opens, signalled with SIGRTMIN to this thread only; and a watch of its parent for it
// going away. False when none opened.
bool Subscription::armWatch()
{
    for (int i = 0; i < 2; ++i) {
        const char* database = kUdevDatabases[i];
        const int fd = ::open(database, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0)
            continue;
        const std::string parent = parentOf(database);
        const int gone = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (gone < 0 || inotify_add_watch(gone, parent.c_str(), kGone | IN_ONLYDIR) < 0 || !sameFile(fd, database)) {
            // Gone again or replaced meanwhile: look again.
            if (gone >= 0)
                ::close(gone);
            ::close(fd);
            continue;
        }
        closeWatch();
        m_USB_FileDir = fd;
        m_appear = gone;
        m_database = i;
        struct sigaction action = {};
        action.sa_sigaction = USB_Changed_Callback;
        action.sa_flags = SA_SIGINFO;
        sigemptyset(&action.sa_mask);
        sigaction(SIGRTMIN, &action, nullptr);
        struct f_owner_ex owner = {F_OWNER_TID, gettid()};
        if (fcntl(fd, F_SETSIG, SIGRTMIN) == 0 && fcntl(fd, F_SETOWN_EX, &owner) == 0)
            fcntl(fd, F_NOTIFY, DN_CREATE | DN_DELETE | DN_MULTISHOT);
        return true;
    }
    return false;
}

void Subscription::closeWatch()
{
    for (int* fd : {&m_USB_FileDir, &m_appear}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
}

// Sleeps until a directory signal comes, the directory or a parent comes or goes, the
// subscription closes, or (with changes counted) the quiet interval ends.
void Subscription::waitForChanges()
{
    pollfd fds[3] = {{m_signals, POLLIN, 0}, {m_wake, POLLIN, 0}, {m_appear, POLLIN, 0}};
    timespec left;
    const timespec* timeout = nullptr;
    if (m_USB_Signal > 0) {
        const auto remaining = std::chrono::duration_cast<std::chrono::nanoseconds>(
            m_time_t + kQuietInterval - Clock::now());
        const long long ns = remaining.count() > 0 ? remaining.count() : 0;
        left = {static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
        timeout = &left;
    }
    if (ppoll(fds, 3, timeout, nullptr) < 0 && errno != EINTR)
        return;
    if ((fds[0].revents & POLLIN) != 0)
        takeSignals();
    if ((fds[2].revents & POLLIN) != 0)
        takeAppearances();
}

// Counts each signal of the watched directory, and logs the signal and the descriptor it
// reports. SIGIO sent by the kernel (its queue of real-time signals was full) counts too.
// Any other (another process's kill, a signal of an earlier watch) is no change.
void Subscription::takeSignals()
{
    signalfd_siginfo info;
    while (read(m_signals, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
        const int signal = static_cast<int>(info.ssi_signo);
        const bool directory = signal == SIGRTMIN && info.ssi_code == POLL_MSG &&
                               static_cast<int>(info.ssi_fd) == m_USB_FileDir && m_USB_FileDir >= 0;
        const bool overflow = signal == SIGIO && info.ssi_code == SI_KERNEL;
        if (!directory && !overflow)
            continue;
        syslog(LOG_INFO, "NATIVESUPPORT: sig= %ld", static_cast<long>(signal));
        syslog(LOG_INFO, "NATIVESUPPORT: si->si_fd= %ld", static_cast<long>(info.ssi_fd));
        ++m_USB_Signal;
    }
}

// A directory came or went beside the watched directory, or where one may come: watch
// again, unless the watched directory is still the one there.
void Subscription::takeAppearances()
{
    alignas(inotify_event) char events[4096];
    bool directories = false;
    ssize_t length;
    while ((length = read(m_appear, events, sizeof events)) > 0) {
        for (ssize_t at = 0; at < length;) {
            const auto* event = reinterpret_cast<const inotify_event*>(events + at);
            directories = directories || (event->mask & (IN_ISDIR | IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED)) != 0;
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
    if (directories && (m_USB_FileDir < 0 || !sameFile(m_USB_FileDir, kUdevDatabases[m_database])))
        watchUdevDatabase();
}

void Subscription::callHotPlugHandler()
{
    callStaticVoid(m_pjavaVM, m_javaClass, m_javaMethod, "handleUSBHotPlugEvent()",
                   "NATIVESUPPORT: Native Java USB_Changed_Thread() Attached JNIEnv = %ld",
                   "NATIVESUPPORT: Native Java USB_Changed_Thread() Detached JNIEnv = %ld",
                   [this] { return mayCallJava(); });
}

// A Java call begins only while the subscription is open. The close takes the same lock,
// so that once it has returned no call begins; one under way may finish.
bool Subscription::enterJava()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_closed)
        return false;
    m_notifying = Notifying::InJava;
    return true;
}

void Subscription::leaveJava()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_notifying = Notifying::Watching;
}

} // namespace nativesupport
