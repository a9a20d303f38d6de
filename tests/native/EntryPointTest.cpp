// No C++ exception leaves an entry point into the JVM: an allocation that fails inside one
// gives the method's failure result and a log line.
#include <gtest/gtest.h>
#include <jni.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

extern "C" {
jlong Java_quorvantelix_dm_connections_usb_NativeUSB_createNativeUsbInstance(JNIEnv*, jobject);
jlong Java_quorvantelix_dm_deviceapi_SharedMemoryNativeInterface_connectSharedMemoryMacLinux(JNIEnv*, jobject, jint,
                                                                                              jint);
}

namespace {
thread_local bool t_failAllocations = false;
}

void* operator new(std::size_t size)
{
    if (t_failAllocations)
        throw std::bad_alloc();
    if (void* p = std::malloc(size != 0 ? size : 1))
        return p;
    throw std::bad_alloc();
}

void operator delete(void* p) noexcept
{
    std::free(p);
}

void operator delete(void* p, std::size_t) noexcept
{
    std::free(p);
}

// The test process runs in a mount namespace of its own: /dev/log is its own to bind.
std::string loggedText()
{
    static const int s = [] {
        const int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strcpy(address.sun_path, "/dev/log");
        unlink(address.sun_path);
        return bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 ? fd : -1;
    }();
    std::string text;
    char datagram[1024];
    for (ssize_t n; (n = recv(s, datagram, sizeof datagram, 0)) > 0;)
        text.append(datagram, static_cast<size_t>(n)).append("\n");
    return text;
}

TEST(EntryPoints, AFailedAllocationGivesTheFailureResultAndALogLine)
{
    loggedText();
    t_failAllocations = true;
    const jlong usb = Java_quorvantelix_dm_connections_usb_NativeUSB_createNativeUsbInstance(nullptr, nullptr);
    const jlong shm =
        Java_quorvantelix_dm_deviceapi_SharedMemoryNativeInterface_connectSharedMemoryMacLinux(nullptr, nullptr, 1, 64);
    t_failAllocations = false;
    EXPECT_EQ(0, usb);
    EXPECT_EQ(-1, shm);
    const std::string text = loggedText();
    EXPECT_NE(std::string::npos, text.find("<15>")) << "debug priority: " << text;
    EXPECT_NE(std::string::npos, text.find("NATIVESUPPORT: createNativeUsbInstance() failed: std::bad_alloc")) << text;
    EXPECT_NE(std::string::npos, text.find("SHAREDMEMORY: connectSharedMemoryMacLinux() failed: std::bad_alloc")) << text;
}
