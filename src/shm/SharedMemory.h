#pragma once
// One attachment of a System V shared memory segment, and the registry of live instances
// that the SharedMemoryNativeInterface entry points look handles up in.
#include "AddressQuarantine.h"
#include "HandleRegistry.h"

#include <cstdint>

namespace nativesupport {

class SharedMemory {
public:
    SharedMemory() = default;
    virtual ~SharedMemory() = default;   // a segment still attached stays attached

    SharedMemory(const SharedMemory&) = delete;
    SharedMemory& operator=(const SharedMemory&) = delete;

    // A released instance's address is not given to a new one soon after (see USBDevice).
    static void* operator new(std::size_t size) { return quarantineOf<SharedMemory>().allocate(size); }
    static void operator delete(void* p, std::size_t size) noexcept { quarantineOf<SharedMemory>().release(p, size); }

    // Creates the segment for `key` when there is none (an existing one is opened as it
    // is) and attaches it. The segment belongs to the system: it is never removed here.
    bool attachMemory(int key, int size);
    // Detaches the segment; the fields keep their values.
    bool releaseMemory();

    void* getSegmentDataSpace() const { return m_segmentDataSpace; }
    int32_t getCapacity() const { return m_capacity; }

private:
    int32_t m_segmentId = 0;
    int32_t m_capacity = 0;
    void* m_segmentDataSpace = nullptr;
};

// Every live SharedMemory, in order of creation. Never destroyed: threads may still call
// in while the process runs its exit handlers.
HandleRegistry<SharedMemory>& sharedMemorySegments();

// Whether `instance` names a live instance (and the line that says so). Compares
// addresses only; `instance` is never dereferenced.
bool doesSharedMemoryInstanceExist(SharedMemory* instance);

// Addresses appear in the subsystem's log lines as signed long integers.
inline long logValue(const void* p)
{
    return static_cast<long>(reinterpret_cast<intptr_t>(p));
}

} // namespace nativesupport
