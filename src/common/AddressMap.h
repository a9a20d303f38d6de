#pragma once
// Objects kept by address, as a handle registry's shard keeps them: open addressing with
// linear probing in a power-of-two table at most half full, so that a lookup is a multiply,
// a shift and, as a rule, one probe, with no division and no list to follow. Each value lives
// in an allocation of its own and keeps its address for as long as it is in the map. Not
// thread-safe: the owner locks.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

namespace nativesupport {

template <typename V>
class AddressMap {
public:
    // The value kept for `key`, or nullptr.
    V* find(const void* key) const
    {
        const size_t at = positionOf(key);
        return at != kNone ? m_slots[at].value.get() : nullptr;
    }

    // The value kept for `key`, made (value-initialised) when there was none; the flag tells
    // whether it was made. Throws std::bad_alloc, and then the map is as it was.
    std::pair<V*, bool> emplace(const void* key)
    {
        if (V* kept = find(key))
            return {kept, false};
        auto value = std::make_unique<V>();
        if ((m_size + 1) * 2 > m_slots.size())
            rehash(m_slots.empty() ? 8 : m_slots.size() * 2);
        V* made = value.get();
        place(key, std::move(value));
        m_size++;
        return {made, true};
    }

    // Drops `key` and deletes its value; false when it had none.
    bool erase(const void* key)
    {
        size_t hole = positionOf(key);
        if (hole == kNone)
            return false;
        m_slots[hole] = Slot();
        m_size--;
        // Backward shift: every slot after the hole, up to the next empty one, whose home
        // is not cyclically in (hole, slot] moves into the hole, so no probe ever stops
        // short of its key.
        const size_t mask = m_slots.size() - 1;
        for (size_t at = (hole + 1) & mask; m_slots[at].key != nullptr; at = (at + 1) & mask) {
            const size_t home = homeOf(m_slots[at].key);
            if (((at - home) & mask) >= ((at - hole) & mask)) {
                m_slots[hole] = std::move(m_slots[at]);
                m_slots[at] = Slot();
                hole = at;
            }
        }
        return true;
    }

private:
    struct Slot {
        const void* key = nullptr;
        std::unique_ptr<V> value;
    };
    static constexpr size_t kNone = ~size_t{0};

    size_t homeOf(const void* key) const
    {
        // Fibonacci hashing of the address; the top bits of the product index the table.
        const uint64_t product = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(key)) * 0x9E3779B97F4A7C15ull;
        return static_cast<size_t>(product >> (64 - m_bits));
    }

    size_t positionOf(const void* key) const
    {
        if (key == nullptr || m_slots.empty())
            return kNone;
        const size_t mask = m_slots.size() - 1;
        for (size_t at = homeOf(key);; at = (at + 1) & mask) {
            if (m_slots[at].key == key)
                return at;
            if (m_slots[at].key == nullptr)
                return kNone;
        }
    }

    void place(const void* key, std::unique_ptr<V> value)
    {
        const size_t mask = m_slots.size() - 1;
        size_t at = homeOf(key);
        while (m_slots[at].key != nullptr)
            at = (at + 1) & mask;
        m_slots[at].key = key;
        m_slots[at].value = std::move(value);
    }

    void rehash(size_t slots)
    {
        std::vector<Slot> old(slots);   // may throw; nothing has changed yet
        old.swap(m_slots);
        m_bits = 0;
        while ((size_t{1} << m_bits) < slots)
            m_bits++;
        for (Slot& slot : old) {
            if (slot.key != nullptr)
                place(slot.key, std::move(slot.value));
        }
    }

    std::vector<Slot> m_slots;
    unsigned m_bits = 0;
    size_t m_size = 0;
};

} // namespace nativesupport
