// The testbed redirects /dev and /sys, but only paths it has: a socket
// bound under /dev (like a test's /dev/log syslog capture) stays on the
// real filesystem and is reachable. Uses its own name to stay clear of
// other tests that bind /dev/log.
#include "EmulatorFixture.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace nsemu {
namespace testing {
namespace {

using DevPaths = EmulatorTest;

sockaddr_un address(const std::string& path)
{
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::snprintf(a.sun_path, sizeof a.sun_path, "%s", path.c_str());
    return a;
}

TEST_F(DevPaths, SocketBoundUnderDevIsNotRedirected)
{
    emu.plug(models::hidDigitizer(1, 2));
    const std::string path = "/dev/nsemu-log-" + std::to_string(getpid());
    const sockaddr_un a = address(path);
    const int server = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ASSERT_EQ(bind(server, reinterpret_cast<const sockaddr*>(&a), sizeof a), 0);
    EXPECT_NE(access((emu.rootDir() + path).c_str(), F_OK), 0);

    const int client = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ASSERT_EQ(connect(client, reinterpret_cast<const sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(send(client, "hi", 2, 0), 2);
    char got[8] = {};
    EXPECT_EQ(recv(server, got, sizeof got, 0), 2);
    close(client);
    close(server);
    unlink(path.c_str());
}

}  // namespace
}  // namespace testing
}  // namespace nsemu
