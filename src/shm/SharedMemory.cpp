// SharedMemory: attaching and detaching one System V shared memory segment, and the
// registry of live instances.
#include "SharedMemory.h"

#include <sys/ipc.h>
#include <sys/shm.h>
#include <syslog.h>

#include <algorithm>

std::vector<SharedMemory*>& sharedMemorySegments = *new std::vector<SharedMemory*>();
std::recursive_mutex g_sharedMemorySegmentsMutex;

namespace {
// Addresses appear in log lines as signed long integers.
long logValue(const void* p)
{
    return static_cast<long>(reinterpret_cast<intptr_t>(p));
}

void* const kAttachFailed = reinterpret_cast<void*>(-1);
}

SharedMemory::SharedMemory() : m_segmentId(0), m_capacity(0), m_segmentDataSpace(nullptr)
{
    std::lock_guard<std::recursive_mutex> lock(g_sharedMemorySegmentsMutex);
    syslog(LOG_DEBUG, "SHAREDMEMORY: Constructor Pushing Shared Memory Instance (%ld)", logValue(this));
    sharedMemorySegments.push_back(this);
}

SharedMemory::~SharedMemory()
{
    std::lock_guard<std::recursive_mutex> lock(g_sharedMemorySegmentsMutex);
    auto it = std::find(sharedMemorySegments.begin(), sharedMemorySegments.end(), this);
    if (it != sharedMemorySegments.end())
        sharedMemorySegments.erase(it);
}

bool SharedMemory::attachMemory(int key, int size)
{
    m_capacity = size;
    m_segmentId = shmget(static_cast<key_t>(key), static_cast<size_t>(size), IPC_CREAT | 0666);
    if (m_segmentId < 0)
        return false;
    syslog(LOG_DEBUG, "SHAREDMEMORY: shmget was successful for key (%d).  Shared Memory ID Created (%d)", key,
           m_segmentId);

    m_segmentDataSpace = shmat(m_segmentId, nullptr, 0);
    if (m_segmentDataSpace == kAttachFailed)
        return false;
    syslog(LOG_DEBUG, "SHAREDMEMORY: shmat was successful Shared Memory Address (%ld)", logValue(m_segmentDataSpace));
    return true;
}

bool SharedMemory::releaseMemory()
{
    const int result = shmdt(m_segmentDataSpace);
    syslog(LOG_DEBUG, "SHAREDMEMORY: shmdt returned (%d)", result);
    return result == 0;
}

bool doesSharedMemoryInstanceExist(SharedMemory* instance)
{
    std::lock_guard<std::recursive_mutex> lock(g_sharedMemorySegmentsMutex);
    if (std::find(sharedMemorySegments.begin(), sharedMemorySegments.end(), instance) == sharedMemorySegments.end())
        return false;
    syslog(LOG_DEBUG, "SHAREDMEMORY: Shared Memory Instance (%ld) found.", logValue(instance));
    return true;
}
