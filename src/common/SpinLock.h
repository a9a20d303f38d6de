#pragma once
// A lock for sections of a few dozen instructions (a registry shard's lookup, the take of
// one report). Taking it free is one atomic exchange and giving it back a plain release
// store, where a mutex pays an atomic operation on each side. A thread that finds it taken
// spins a little, then yields the processor, then sleeps in naps of 50 us, so that a holder
// preempted on a busy machine, or slow for once (the poll that writes a drained queue's log
// line), costs its waiters little processor time.
#include <sched.h>
#include <time.h>

#include <atomic>

namespace nativesupport {

class SpinLock {
public:
    void lock()
    {
        if (!m_taken.exchange(true, std::memory_order_acquire))
            return;
        for (unsigned attempt = 0;; attempt++) {
            while (m_taken.load(std::memory_order_relaxed))
                backOff(attempt++);
            if (!m_taken.exchange(true, std::memory_order_acquire))
                return;
        }
    }

    void unlock() { m_taken.store(false, std::memory_order_release); }

private:
    static void backOff(unsigned attempt)
    {
        if (attempt < 64) {
#if defined(__i386__) || defined(__x86_64__)
            __builtin_ia32_pause();
#endif
        } else if (attempt < 128) {
            sched_yield();
        } else {
            const timespec nap{0, 50'000};
            nanosleep(&nap, nullptr);
        }
    }

    std::atomic<bool> m_taken{false};
};

} // namespace nativesupport
