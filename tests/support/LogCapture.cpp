#include "LogCapture.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <cstdlib>
#include <fcntl.h>

namespace nstest {

namespace {
const char kLogPath[] = "/dev/log";
}

LogCapture::LogCapture() : m_socket(-1), m_wakePipe{-1, -1} {}

LogCapture::~LogCapture()
{
    stop();
}

bool LogCapture::start()
{
    if (m_socket >= 0)
        return true;
    m_socket = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (m_socket < 0)
        return false;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, kLogPath, sizeof address.sun_path - 1);
    unlink(kLogPath);
    if (bind(m_socket, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        pipe2(m_wakePipe, O_CLOEXEC) != 0) {
        close(m_socket);
        m_socket = -1;
        return false;
    }
    chmod(kLogPath, 0666);
    m_thread = std::thread(&LogCapture::run, this);
    return true;
}

void LogCapture::stop()
{
    if (m_socket < 0)
        return;
    const char wake = 1;
    (void)!write(m_wakePipe[1], &wake, 1);
    m_thread.join();
    close(m_socket);
    close(m_wakePipe[0]);
    close(m_wakePipe[1]);
    unlink(kLogPath);
    m_socket = -1;
}

void LogCapture::run()
{
    for (;;) {
        pollfd fds[2] = {{m_socket, POLLIN, 0}, {m_wakePipe[0], POLLIN, 0}};
        if (poll(fds, 2, -1) < 0)
            continue;
        if (fds[1].revents != 0)
            return;
        std::lock_guard<std::mutex> lock(m_mutex);
        receivePendingLocked();
    }
}

// Takes every datagram already queued on the socket, in order. Callers hold m_mutex, so
// a line logged before a call that reads the capture is always seen by that call.
void LogCapture::receivePendingLocked()
{
    char datagram[8192];
    bool any = false;
    for (;;) {
        const ssize_t n = recv(m_socket, datagram, sizeof datagram, MSG_DONTWAIT);
        if (n < 0)
            break;
        LogLine line;
        if (parse(datagram, static_cast<size_t>(n), &line)) {
            m_lines.push_back(line);
            any = true;
        }
    }
    if (any)
        m_changed.notify_all();
}

// "<PRI>Mmm dd hh:mm:ss ident[pid]: message"
bool LogCapture::parse(const char* datagram, size_t length, LogLine* line)
{
    std::string s(datagram, length);
    if (s.size() < 3 || s[0] != '<')
        return false;
    const size_t close = s.find('>');
    if (close == std::string::npos)
        return false;
    const int pri = std::atoi(s.substr(1, close - 1).c_str());
    size_t body = close + 1 + 16;   // the timestamp and its blank
    if (body > s.size())
        return false;
    const size_t colon = s.find(": ", body);
    line->priority = pri & 7;
    line->text = colon == std::string::npos ? s.substr(body) : s.substr(colon + 2);
    while (!line->text.empty() && line->text.back() == '\0')
        line->text.pop_back();
    return true;
}

std::vector<LogLine> LogCapture::lines()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    receivePendingLocked();
    return m_lines;
}

std::vector<LogLine> LogCapture::take()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    receivePendingLocked();
    std::vector<LogLine> taken;
    taken.swap(m_lines);
    return taken;
}

void LogCapture::clear()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    receivePendingLocked();
    m_lines.clear();
}

bool LogCapture::waitFor(const std::function<bool(const LogLine&)>& match, std::chrono::milliseconds timeout)
{
    return waitForCount(match, 1, timeout);
}

bool LogCapture::waitForCount(const std::function<bool(const LogLine&)>& match, size_t count,
                              std::chrono::milliseconds timeout)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    receivePendingLocked();
    return m_changed.wait_for(lock, timeout, [&] {
        size_t seen = 0;
        for (const LogLine& l : m_lines)
            if (match(l) && ++seen >= count)
                return true;
        return false;
    });
}

bool LogCapture::waitForText(const std::string& text, std::chrono::milliseconds timeout)
{
    return waitFor([&](const LogLine& l) { return l.text == text; }, timeout);
}

} // namespace nstest
