#pragma once
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace nstest {

// One line as syslog received it: its priority (0-7) and its message text, without the
// header that syslog(3) puts in front.
struct LogLine {
    int priority;
    std::string text;
    bool operator==(const LogLine& o) const { return priority == o.priority && text == o.text; }
};

// Receives this process's syslog(3) lines where syslog(3) sends them: a datagram socket
// bound at /dev/log. Only one capture can be active in a process.
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    bool start();   // binds /dev/log; false when that is impossible
    void stop();

    std::vector<LogLine> lines();    // everything received so far
    std::vector<LogLine> take();     // the same, and forget it
    void clear();
    // Waits until a received line satisfies `match`; false after `timeout`.
    bool waitFor(const std::function<bool(const LogLine&)>& match, std::chrono::milliseconds timeout);
    // Waits until at least `count` received lines satisfy `match`.
    bool waitForCount(const std::function<bool(const LogLine&)>& match, size_t count,
                      std::chrono::milliseconds timeout);
    bool waitForText(const std::string& text, std::chrono::milliseconds timeout);

    static bool parse(const char* datagram, size_t length, LogLine* line);

private:
    void run();
    void receivePendingLocked();

    int m_socket;
    int m_wakePipe[2];
    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<LogLine> m_lines;
};

} // namespace nstest
