#pragma once
// A thread of the library's own: it holds a reference on the state it works with and drops
// it when it ends. Most are detached: nobody joins them.
#include <pthread.h>
#include <signal.h>
#include <syslog.h>

#include <memory>

namespace nativesupport {

// Starts `function` on a thread named `name`, with `blocked` signals blocked in it (the
// calling thread's mask is as it was on return), and puts its id in `thread`, which the
// caller joins or detaches. The thread's argument is a heap-held copy of `state`, which it
// takes over with takeThreadState. False when it could not start.
template <typename T>
bool startJoinableThread(void* (*function)(void*), const std::shared_ptr<T>& state, const char* name,
                         const sigset_t& blocked, pthread_t* thread)
{
    sigset_t previous;
    pthread_sigmask(SIG_BLOCK, &blocked, &previous);
    auto* argument = new std::shared_ptr<T>(state);
    const bool started = pthread_create(thread, nullptr, function, argument) == 0;
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    if (!started) {
        delete argument;
        return false;
    }
    pthread_setname_np(*thread, name);
    return true;
}

// As startJoinableThread, on a detached thread.
template <typename T>
bool startDetachedThread(void* (*function)(void*), const std::shared_ptr<T>& state, const char* name,
                         const sigset_t& blocked)
{
    pthread_t thread;
    if (!startJoinableThread(function, state, name, blocked, &thread))
        return false;
    pthread_detach(thread);
    return true;
}

// Runs a thread's work so that nothing escapes it into the thread's start, which would end
// the process: an exception ends the work with `line` in the log. False then.
template <typename Work>
bool runToTheEnd(const char* line, Work&& work) noexcept
{
    try {
        work();
        return true;
    } catch (...) {
        syslog(LOG_ERR, "%s", line);
        return false;
    }
}

template <typename T>
std::shared_ptr<T> takeThreadState(void* argument)
{
    auto* held = static_cast<std::shared_ptr<T>*>(argument);
    std::shared_ptr<T> state = std::move(*held);
    delete held;
    return state;
}

} // namespace nativesupport
