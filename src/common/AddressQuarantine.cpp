#include "AddressQuarantine.h"

#include <new>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
// A held block is poisoned, so AddressSanitizer still reports a touch of a released object.
#define NS_POISON(block, size) ASAN_POISON_MEMORY_REGION(block, size)
#define NS_UNPOISON(block, size) ASAN_UNPOISON_MEMORY_REGION(block, size)
#else
#define NS_POISON(block, size) ((void)(block), (void)(size))
#define NS_UNPOISON(block, size) ((void)(block), (void)(size))
#endif

namespace nativesupport {

AddressQuarantine::AddressQuarantine(size_t creations, size_t capacity) : m_creations(creations), m_ring(capacity) {}

void* AddressQuarantine::allocate(std::size_t size)
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_created;
        // The blocks released before the last m_creations creations may be handed out again.
        while (m_count > 0 && m_created - 1 - m_ring[m_oldest].releasedAfter >= m_creations)
            freeOldest();
    }
    return ::operator new(size);
}

void AddressQuarantine::release(void* block, std::size_t size) noexcept
{
    if (block == nullptr)
        return;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_ring.empty()) {
        ::operator delete(block);
        return;
    }
    if (m_count == m_ring.size())
        freeOldest();
    NS_POISON(block, size);
    m_ring[(m_oldest + m_count) % m_ring.size()] = Held{block, size, m_created};
    ++m_count;
}

void AddressQuarantine::freeOldest()
{
    Held& oldest = m_ring[m_oldest];
    NS_UNPOISON(oldest.block, oldest.size);
    ::operator delete(oldest.block);
    m_oldest = (m_oldest + 1) % m_ring.size();
    --m_count;
}

} // namespace nativesupport
