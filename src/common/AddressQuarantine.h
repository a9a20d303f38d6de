#pragma once
// The storage of freed objects, held back from reuse for a while. A handle is an object's
// address, so a handle that Java still holds after the object was released would name the
// next object the allocator put at the same address (it reuses a freed block at once). A
// class that takes its storage from here keeps a released object's address from every new
// object of that class until many more were created: a stale handle then names nothing and
// is refused.
//
// Only the object's own block is held, not what it owned (the destructor has released
// that). The number of blocks held is bounded: should more objects be released than that
// between creations, the oldest block goes back early.
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

namespace nativesupport {

class AddressQuarantine {
public:
    // A released block goes back to the allocator once `creations` later blocks were
    // handed out, or when `capacity` younger blocks are held.
    explicit AddressQuarantine(size_t creations = 1000, size_t capacity = 2048);

    AddressQuarantine(const AddressQuarantine&) = delete;
    AddressQuarantine& operator=(const AddressQuarantine&) = delete;

    // Storage for a new object; throws std::bad_alloc.
    void* allocate(std::size_t size);
    // Takes back the storage of a destroyed object.
    void release(void* block, std::size_t size) noexcept;

private:
    struct Held {
        void* block;
        std::size_t size;
        uint64_t releasedAfter;   // m_created when it was released
    };
    void freeOldest();   // m_mutex held

    const size_t m_creations;
    std::mutex m_mutex;
    std::vector<Held> m_ring;   // the held blocks, oldest at m_oldest
    size_t m_oldest = 0;
    size_t m_count = 0;
    uint64_t m_created = 0;
};

// One quarantine per class, for the class's operator new and delete. Never destroyed:
// objects may still be deleted while the process runs its exit handlers.
template <typename T>
AddressQuarantine& quarantineOf()
{
    static AddressQuarantine& quarantine = *new AddressQuarantine();
    return quarantine;
}

} // namespace nativesupport
