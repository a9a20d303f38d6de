#include "ThreadCpu.h"

#include <dirent.h>

#include <cstdlib>
#include <fstream>
#include <string>

namespace nsbench {

namespace {
ThreadUsage readUsage(const std::string& dir)
{
    ThreadUsage usage;
    std::ifstream schedstat(dir + "/schedstat");
    schedstat >> usage.runNanos;
    std::ifstream status(dir + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("voluntary_ctxt_switches:", 0) == 0 || line.rfind("nonvoluntary_ctxt_switches:", 0) == 0)
            usage.switches += std::strtoull(line.substr(line.find(':') + 1).c_str(), nullptr, 10);
    }
    return usage;
}
}

std::set<int> threadIds()
{
    std::set<int> ids;
    if (DIR* dir = opendir("/proc/self/task")) {
        while (dirent* entry = readdir(dir)) {
            if (entry->d_name[0] != '.')
                ids.insert(std::atoi(entry->d_name));
        }
        closedir(dir);
    }
    return ids;
}

void nameThread(int id, const std::string& name)
{
    std::ofstream comm("/proc/self/task/" + std::to_string(id) + "/comm");
    comm << name.substr(0, 15);
}

std::map<int, ThreadUsage> threadUsage()
{
    std::map<int, ThreadUsage> usage;
    for (int id : threadIds())
        usage[id] = readUsage("/proc/self/task/" + std::to_string(id));
    return usage;
}

ThreadUsage usageOfNewThreads(const std::set<int>& before, const std::map<int, ThreadUsage>& since,
                              const std::map<int, ThreadUsage>& now)
{
    ThreadUsage sum;
    for (const auto& [id, usage] : now) {
        if (before.count(id) != 0)
            continue;
        auto start = since.find(id);
        const ThreadUsage zero;
        const ThreadUsage& from = start != since.end() ? start->second : zero;
        sum.runNanos += usage.runNanos - from.runNanos;
        sum.switches += usage.switches - from.switches;
    }
    return sum;
}

}  // namespace nsbench
