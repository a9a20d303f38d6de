#pragma once
// The objects Java holds through native instance handles, and the calls under way on them.
//
// A handle is the object's address, taken as a signed integer and widened to 64 bits (so
// the 32-bit build sign-extends it); a handle coming back from Java is read as an address
// again (in the 32-bit build from its low half) and is valid exactly while that address is
// registered. Log lines print a handle's low 32 bits.
//
// One registry per kind of object. It owns what it lists: `add` takes the object, `retire`
// ends it. Every native call on an object holds a Lease for its duration; retiring waits
// for the leases under way and refuses new ones, so an object is never deleted under a
// call. Lookups are O(1), whatever the number of live objects (AddressMap).
//
// The objects are spread over shards by address, each with its own lock (a SpinLock: every
// section under it is short and never waits), so that calls on different objects seldom
// meet on a lock; a lease holds no lock at all while the call runs. The poll of a report,
// which never waits, holds the shard for its few steps instead. The order of registration
// has a mutex of its own, taken before a shard's.
#include "AddressMap.h"
#include "SpinLock.h"

#include <jni.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <vector>

namespace nativesupport {

inline jlong handleFromPointer(const void* p)
{
    return static_cast<jlong>(reinterpret_cast<intptr_t>(p));
}

inline void* pointerFromHandle(jlong handle)
{
    return reinterpret_cast<void*>(static_cast<intptr_t>(handle));
}

inline int handleLogValue(jlong handle)
{
    return static_cast<int>(static_cast<uint32_t>(handle));
}

template <typename T>
class HandleRegistry {
    struct Entry {
        std::unique_ptr<T> object;
        typename std::list<T*>::iterator position;   // m_orderMutex
        // Leases under way in the low bits, the retiring mark in the top bit: one word, so
        // that ending a call touches the entry exactly once.
        std::atomic<uint32_t> state{0};
    };
    struct Shard {
        SpinLock spinLock;
        std::condition_variable_any idle;
        AddressMap<Entry> entries;
    };
    static constexpr uint32_t kRetiring = 0x80000000u;
    static constexpr size_t kShards = 64;

public:
    // One native call's hold on an object; empty when the handle names no object in use.
    class Lease {
    public:
        Lease() = default;
        Lease(Lease&& other) noexcept : m_shard(other.m_shard), m_entry(other.m_entry)
        {
            other.m_entry = nullptr;
        }
        Lease& operator=(Lease&&) = delete;
        Lease(const Lease&) = delete;
        ~Lease()
        {
            if (m_entry != nullptr)
                endCall(*m_shard, m_entry);
        }

        T* get() const { return m_entry != nullptr ? m_entry->object.get() : nullptr; }
        T* operator->() const { return get(); }
        explicit operator bool() const { return m_entry != nullptr; }

    private:
        friend class HandleRegistry;
        Lease(Shard* shard, Entry* entry) : m_shard(shard), m_entry(entry) {}

        Shard* m_shard = nullptr;
        Entry* m_entry = nullptr;
    };

    // Registers the object and returns its handle. Throws std::bad_alloc when there is no
    // room; the object is deleted then.
    jlong add(std::unique_ptr<T> object)
    {
        T* p = object.get();
        std::lock_guard<std::mutex> order(m_orderMutex);
        Shard& shard = shardOf(p);
        std::lock_guard<SpinLock> lock(shard.spinLock);
        Entry& entry = *shard.entries.emplace(p).first;
        try {
            entry.position = m_order.insert(m_order.end(), p);
        } catch (...) {
            shard.entries.erase(p);
            throw;
        }
        entry.object = std::move(object);
        return handleFromPointer(p);
    }

    Lease lease(jlong handle)
    {
        Shard& shard = shardOf(pointerFromHandle(handle));
        std::lock_guard<SpinLock> lock(shard.spinLock);
        Entry* entry = inUse(shard, handle);
        if (entry == nullptr)
            return Lease();
        entry->state.fetch_add(1, std::memory_order_relaxed);
        return Lease(&shard, entry);
    }

    // Runs `work` on the object while holding its shard, and gives its result; gives
    // `fallback` when the handle names no object in use. A call that needs the object only
    // for a short step that never waits can take it this way instead of a lease: the shard's
    // lock keeps a retire from beginning meanwhile, at the cost of the lookup alone. `work`
    // holds up the leases and retires of the objects in its shard while it runs, and must
    // not come back into the registry.
    template <typename Result, typename Work>
    Result withHeld(jlong handle, Result fallback, Work&& work)
    {
        Shard& shard = shardOf(pointerFromHandle(handle));
        std::lock_guard<SpinLock> lock(shard.spinLock);
        Entry* entry = inUse(shard, handle);
        return entry != nullptr ? work(*entry->object) : fallback;
    }

    // Whether `p` names a registered object (one being retired included). Compares
    // addresses only; `p` is never dereferenced.
    bool contains(const void* p)
    {
        Shard& shard = shardOf(p);
        std::lock_guard<SpinLock> lock(shard.spinLock);
        return shard.entries.find(p) != nullptr;
    }

    // Takes the object out of use: new leases are refused, and once the leases under way
    // have ended, `finish` runs on it with no other call on it. When `finish` returns true
    // the object is unregistered and deleted; otherwise it is in use again. True when
    // `finish` ran; false when the handle names no object in use (never registered, gone,
    // or already being retired).
    template <typename Finish>
    bool retire(jlong handle, Finish finish)
    {
        const void* p = pointerFromHandle(handle);
        Shard& shard = shardOf(p);
        Entry* entry;
        {
            std::unique_lock<SpinLock> lock(shard.spinLock);
            entry = shard.entries.find(p);
            if (entry == nullptr || (entry->state.fetch_or(kRetiring) & kRetiring) != 0)
                return false;
            shard.idle.wait(lock, [entry] { return entry->state.load(std::memory_order_acquire) == kRetiring; });
        }
        const bool done = finish(*entry->object);
        std::unique_ptr<T> gone;
        {
            std::lock_guard<std::mutex> order(m_orderMutex);
            std::lock_guard<SpinLock> lock(shard.spinLock);
            if (!done) {
                entry->state.store(0, std::memory_order_release);
                return true;
            }
            gone = std::move(entry->object);
            m_order.erase(entry->position);
            shard.entries.erase(p);
        }
        return true;
    }

    // The registered objects in order of registration.
    std::vector<T*> inOrder() const
    {
        std::lock_guard<std::mutex> order(m_orderMutex);
        return std::vector<T*>(m_order.begin(), m_order.end());
    }

private:
    Shard& shardOf(const void* p)
    {
        const uintptr_t a = reinterpret_cast<uintptr_t>(p);
        return m_shards[(a >> 4 ^ a >> 10 ^ a >> 16) % kShards];
    }

    // The entry of the object that `handle` names, unless it is being retired; the shard's
    // lock held.
    static Entry* inUse(Shard& shard, jlong handle)
    {
        Entry* entry = shard.entries.find(pointerFromHandle(handle));
        if (entry == nullptr || (entry->state.load(std::memory_order_relaxed) & kRetiring) != 0)
            return nullptr;
        return entry;
    }

    // The decrement is the call's last touch of the entry: from then on a retiring entry
    // may be gone. The registry itself lives as long as the process.
    static void endCall(Shard& shard, Entry* entry)
    {
        if (entry->state.fetch_sub(1, std::memory_order_acq_rel) == (kRetiring | 1)) {
            std::lock_guard<SpinLock> lock(shard.spinLock);
            shard.idle.notify_all();
        }
    }

    Shard m_shards[kShards];
    mutable std::mutex m_orderMutex;
    std::list<T*> m_order;
};

} // namespace nativesupport
