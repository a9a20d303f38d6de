// Preloaded into a suite's JVM: the wall clock (CLOCK_REALTIME and time())
// runs with an offset that the suite steps through quorvantelix.test.WallClock, as a time
// server that corrects the clock steps it. The monotonic clock is left alone.
#include <dlfcn.h>
#include <jni.h>
#include <time.h>

#include <atomic>

// The library is built with hidden symbols by default; these must interpose libc's.
#define INTERPOSE __attribute__((visibility("default")))

namespace {
std::atomic<long long> g_offset{0};

int realClockGettime(clockid_t clock, timespec* now)
{
    using ClockGettime = int (*)(clockid_t, timespec*);
    static const auto real = reinterpret_cast<ClockGettime>(dlsym(RTLD_NEXT, "clock_gettime"));
    return real(clock, now);
}
}

extern "C" {

INTERPOSE int clock_gettime(clockid_t clock, timespec* now)
{
    const int result = realClockGettime(clock, now);
    if (result == 0 && (clock == CLOCK_REALTIME || clock == CLOCK_REALTIME_COARSE))
        now->tv_sec += static_cast<time_t>(g_offset.load());
    return result;
}

INTERPOSE time_t time(time_t* seconds)
{
    timespec now;
    clock_gettime(CLOCK_REALTIME, &now);
    if (seconds != nullptr)
        *seconds = now.tv_sec;
    return now.tv_sec;
}

JNIEXPORT void JNICALL Java_quorvantelix_test_WallClock_step(JNIEnv*, jclass, jlong seconds)
{
    g_offset += seconds;
}

} // extern "C"
