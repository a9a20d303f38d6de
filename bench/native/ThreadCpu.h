// Processor time and context switches of this process's threads, from /proc/self/task.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>

namespace nsbench {

struct ThreadUsage {
    std::uint64_t runNanos = 0;   // schedstat: time on a processor
    std::uint64_t switches = 0;   // voluntary + involuntary context switches
};

std::map<int, ThreadUsage> threadUsage();
std::set<int> threadIds();

// Names a thread of this process (its comm, at most 15 characters).
void nameThread(int id, const std::string& name);

// Summed usage of the threads in `now` that are not in `before`, counted from `since`.
ThreadUsage usageOfNewThreads(const std::set<int>& before, const std::map<int, ThreadUsage>& since,
                              const std::map<int, ThreadUsage>& now);

}  // namespace nsbench
