// No C++ exception leaves an entry point into the JVM: an allocation that fails inside one
// gives the method's failure result and a log line.
#include "LogCapture.h"

#include <gtest/gtest.h>
#include <jni.h>

#include <cstdlib>
#include <new>

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

TEST(EntryPoints, AFailedAllocationGivesTheFailureResultAndALogLine)
{
    nstest::LogCapture log;
    ASSERT_TRUE(log.start());
    t_failAllocations = true;
    const jlong usb = Java_quorvantelix_dm_connections_usb_NativeUSB_createNativeUsbInstance(nullptr, nullptr);
    const jlong shm =
        Java_quorvantelix_dm_deviceapi_SharedMemoryNativeInterface_connectSharedMemoryMacLinux(nullptr, nullptr, 1, 64);
    t_failAllocations = false;
    EXPECT_EQ(0, usb);
    EXPECT_EQ(-1, shm);
    const std::vector<nstest::LogLine> expected = {
        {7, "NATIVESUPPORT: createNativeUsbInstance() failed: std::bad_alloc"},
        {7, "SHAREDMEMORY: connectSharedMemoryMacLinux() failed: std::bad_alloc"},
    };
    EXPECT_EQ(expected, log.take());
}
