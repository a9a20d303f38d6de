// The machine's own syslog traffic, for the isolation check: `listen` stands in for the
// machine's system logger (a datagram socket at /dev/log that takes every line), `spam`
// for another program that logs with the library's ident and line prefixes.
//   syslog_peer listen        until SIGTERM; then prints how many lines it took
//   syslog_peer spam          until SIGTERM
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <syslog.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

namespace {
volatile sig_atomic_t g_stop = 0;

void stop(int)
{
    g_stop = 1;
}

int listen()
{
    const int s = socket(AF_UNIX, SOCK_DGRAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, "/dev/log");
    unlink(address.sun_path);
    if (s < 0 || bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        std::perror("syslog_peer: /dev/log");
        return 1;
    }
    long lines = 0;
    char datagram[4096];
    while (!g_stop) {
        if (recv(s, datagram, sizeof datagram, 0) > 0)
            ++lines;
    }
    std::printf("%ld\n", lines);
    return 0;
}

int spam()
{
    openlog("libNativeSupport", LOG_PID, 0);
    while (!g_stop) {
        syslog(LOG_DEBUG, "NATIVESUPPORT: USBDevice* doesn't exist for nativeInstanceHandle 0");
        syslog(LOG_INFO, "NATIVESUPPORT: Found: ");
        syslog(LOG_DEBUG, "SHAREDMEMORY: Shared Memory Instance (0) found.");
        usleep(1000);
    }
    return 0;
}
}

int main(int argc, char** argv)
{
    struct sigaction action = {};
    action.sa_handler = stop;   // no SA_RESTART: a blocked recv returns
    sigaction(SIGTERM, &action, nullptr);
    if (argc == 2 && std::strcmp(argv[1], "listen") == 0)
        return listen();
    if (argc == 2 && std::strcmp(argv[1], "spam") == 0)
        return spam();
    std::fprintf(stderr, "usage: syslog_peer listen|spam\n");
    return 2;
}
