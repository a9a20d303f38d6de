#pragma once
// One attachment of a System V shared memory segment, and the registry of live instances
// that the SharedMemoryNativeInterface entry points look handles up in.
#include <cstdint>
#include <mutex>
#include <vector>

class SharedMemory {
public:
    SharedMemory();            // registers the instance
    virtual ~SharedMemory();   // unregisters it; a segment still attached stays attached

    SharedMemory(const SharedMemory&) = delete;
    SharedMemory& operator=(const SharedMemory&) = delete;

    // Creates the segment for `key` when there is none (an existing one is opened as it
    // is) and attaches it. The segment belongs to the system: it is never removed here.
    bool attachMemory(int key, int size);
    // Detaches the segment; the fields keep their values.
    bool releaseMemory();

    void* getSegmentDataSpace() { return m_segmentDataSpace; }
    int32_t getCapacity() { return m_capacity; }

private:
    int32_t m_segmentId;
    int32_t m_capacity;
    void* m_segmentDataSpace;
};

// Every live SharedMemory, in order of construction. It owns none of them.
// Never destroyed: threads may still call in while the process runs its exit handlers.
extern std::vector<SharedMemory*>& sharedMemorySegments;

// Guards sharedMemorySegments. The constructor, the destructor and the lookup take it
// themselves; a caller that looks an instance up and then uses it holds it across both,
// so that no other thread can release the instance in between. It is recursive so that
// such a caller may construct, look up and delete instances while holding it.
extern std::recursive_mutex g_sharedMemorySegmentsMutex;

// Whether `instance` names a live instance. Compares addresses only; `instance` is never
// dereferenced.
bool doesSharedMemoryInstanceExist(SharedMemory* instance);
