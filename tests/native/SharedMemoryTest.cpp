#include "SharedMemory.h"

#include "LogCapture.h"

#include <gtest/gtest.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <unistd.h>

#include <string>

using namespace nativesupport;

namespace {

std::string number(const void* p)
{
    return std::to_string(static_cast<long>(reinterpret_cast<intptr_t>(p)));
}

nstest::LogLine debug(const std::string& text)
{
    return {7, "SHAREDMEMORY: " + text};
}

// A key of this test process's own, removed with its segment when the test ends.
class TestKey {
public:
    explicit TestKey(int n) : m_key(0x4e000000 + (getpid() & 0xffff) * 16 + n) { remove(); }
    ~TestKey() { remove(); }
    int key() const { return m_key; }
    int id() const { return shmget(m_key, 0, 0); }
    shmid_ds stat() const
    {
        shmid_ds info{};
        shmctl(id(), IPC_STAT, &info);
        return info;
    }

private:
    void remove()
    {
        const int id = shmget(m_key, 0, 0);
        if (id >= 0)
            shmctl(id, IPC_RMID, nullptr);
    }
    int m_key;
};

} // namespace

TEST(SharedMemorySegment, AttachCreatesAWorldWritableSegmentAndReleaseOnlyDetaches)
{
    TestKey key(1);
    nstest::LogCapture log;
    ASSERT_TRUE(log.start());
    SharedMemory* shm = new SharedMemory();
    ASSERT_TRUE(shm->attachMemory(key.key(), 4096));
    const int id = key.id();
    ASSERT_GE(id, 0);
    EXPECT_EQ(0666, key.stat().shm_perm.mode & 0777);
    EXPECT_EQ(4096u, key.stat().shm_segsz);
    EXPECT_EQ(1u, key.stat().shm_nattch);
    EXPECT_EQ(4096, shm->getCapacity());
    void* address = shm->getSegmentDataSpace();

    EXPECT_TRUE(shm->releaseMemory());
    EXPECT_EQ(0u, key.stat().shm_nattch);
    EXPECT_EQ(id, key.id()) << "the segment outlives its last attachment";
    EXPECT_EQ(address, shm->getSegmentDataSpace()) << "the fields are left as they are";
    EXPECT_FALSE(shm->releaseMemory()) << "nothing is attached there any more";

    const std::vector<nstest::LogLine> expected = {
        debug("shmget was successful for key (" + std::to_string(key.key()) + ").  Shared Memory ID Created (" +
              std::to_string(id) + ")"),
        debug("shmat was successful Shared Memory Address (" + number(address) + ")"),
        debug("shmdt returned (0)"),
        debug("shmdt returned (-1)"),
    };
    EXPECT_EQ(expected, log.take());

    // An instance destroyed while attached leaves its attachment behind.
    ASSERT_TRUE(shm->attachMemory(key.key(), 16));
    void* stillAttached = shm->getSegmentDataSpace();
    delete shm;
    EXPECT_EQ(1u, key.stat().shm_nattch);
    EXPECT_EQ(0, shmdt(stillAttached));
}

TEST(SharedMemorySegment, AFailedAttachKeepsTheRequestedSizeAndLogsNothing)
{
    TestKey key(2);
    SharedMemory small;
    ASSERT_TRUE(small.attachMemory(key.key(), 64));
    nstest::LogCapture log;
    ASSERT_TRUE(log.start());
    SharedMemory larger;
    EXPECT_FALSE(larger.attachMemory(key.key(), 65));
    EXPECT_EQ(65, larger.getCapacity());
    EXPECT_EQ(nullptr, larger.getSegmentDataSpace());
    EXPECT_FALSE(larger.attachMemory(key.key(), -1));
    EXPECT_TRUE(log.take().empty());
    EXPECT_TRUE(small.releaseMemory());
}
