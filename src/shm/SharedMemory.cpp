// SharedMemory: attaching and detaching one System V shared memory segment, and the
// registry of live instances.
#include "SharedMemory.h"

#include <sys/ipc.h>
#include <sys/shm.h>
#include <syslog.h>

namespace nativesupport {

namespace {
void* const kAttachFailed = reinterpret_cast<void*>(-1);
}

HandleRegistry<SharedMemory>& sharedMemorySegments()
{
    static HandleRegistry<SharedMemory>& registry = *new HandleRegistry<SharedMemory>();
    return registry;
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
    if (!sharedMemorySegments().contains(instance))
        return false;
    syslog(LOG_DEBUG, "SHAREDMEMORY: Shared Memory Instance (%ld) found.", logValue(instance));
    return true;
}

} // namespace nativesupport
