// The machine's system logger, for the isolation check: a datagram socket at /dev/log that
// takes every line until SIGTERM, then prints how many it took.
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
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

}

int main()
{
    struct sigaction action = {};
    action.sa_handler = stop;   // no SA_RESTART: a blocked recv returns
    sigaction(SIGTERM, &action, nullptr);
    return listen();
}
