// A second process for the shared memory suites: it attaches a segment by key and reads,
// writes, inspects or removes it on request, one command per line on standard input and
// one reply per line on standard output ("ok ..." or "error <errno>"):
//
//   create <key> <size>    create the segment (it must not exist yet) and attach it
//   open <key>             attach the existing segment
//   write <offset> <hex>   write bytes into the attached segment
//   read <offset> <count>  reply "ok <hex>" with bytes of the attached segment
//   stat                   reply "ok <id> <size> <attachments>" for the attached segment
//   close                  detach
//   remove <key>           remove the segment of that key ("ok absent" when there is none)
//   own <key>              remove the segment of that key now and again at end of input, so
//                          that not even a test process that dies leaves it behind
//
// Bytes travel as lowercase hex. The program ends at end of input.
#include <sys/ipc.h>
#include <sys/shm.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

class Peer {
public:
    Peer() : m_id(-1), m_data(nullptr) {}
    ~Peer()
    {
        close();
        for (key_t key : m_owned)
            removeSegment(key);
    }

    std::string run(const std::string& line)
    {
        std::istringstream in(line);
        std::string command;
        in >> command;
        if (command == "create" || command == "open")
            return attach(in, command == "create");
        if (command == "write")
            return write(in);
        if (command == "read")
            return read(in);
        if (command == "stat")
            return stat();
        if (command == "close")
            return close() ? "ok" : failure();
        if (command == "remove" || command == "own")
            return remove(in, command == "own");
        return "error unknown command";
    }

private:
    static std::string failure() { return "error " + std::to_string(errno); }

    std::string attach(std::istream& in, bool create)
    {
        long key = 0;
        long size = 0;
        in >> key;
        if (create)
            in >> size;
        close();
        m_id = shmget(static_cast<key_t>(key), static_cast<size_t>(size), create ? IPC_CREAT | IPC_EXCL | 0666 : 0);
        if (m_id < 0)
            return failure();
        void* data = shmat(m_id, nullptr, 0);
        if (data == reinterpret_cast<void*>(-1))
            return failure();
        m_data = static_cast<unsigned char*>(data);
        return "ok";
    }

    std::string write(std::istream& in)
    {
        size_t offset = 0;
        std::string hex;
        in >> offset >> hex;
        if (m_data == nullptr)
            return "error not attached";
        for (size_t i = 0; i + 1 < hex.size(); i += 2)
            m_data[offset + i / 2] = static_cast<unsigned char>(std::stoul(hex.substr(i, 2), nullptr, 16));
        return "ok";
    }

    std::string read(std::istream& in)
    {
        size_t offset = 0;
        size_t count = 0;
        in >> offset >> count;
        if (m_data == nullptr)
            return "error not attached";
        std::string reply = "ok ";
        char digits[3];
        for (size_t i = 0; i < count; ++i) {
            std::snprintf(digits, sizeof digits, "%02x", m_data[offset + i]);
            reply += digits;
        }
        return reply;
    }

    std::string stat()
    {
        shmid_ds info{};
        if (shmctl(m_id, IPC_STAT, &info) != 0)
            return failure();
        return "ok " + std::to_string(m_id) + " " + std::to_string(info.shm_segsz) + " " +
               std::to_string(info.shm_nattch);
    }

    bool close()
    {
        if (m_data == nullptr)
            return true;
        const bool detached = shmdt(m_data) == 0;
        m_data = nullptr;
        return detached;
    }

    std::string remove(std::istream& in, bool own)
    {
        long key = 0;
        in >> key;
        if (own)
            m_owned.push_back(static_cast<key_t>(key));
        const int result = removeSegment(static_cast<key_t>(key));
        if (result < 0)
            return failure();
        return result == 0 ? "ok absent" : "ok";
    }

    // 1 when removed, 0 when there is no segment for the key, -1 on failure.
    static int removeSegment(key_t key)
    {
        const int id = shmget(key, 0, 0);
        if (id < 0)
            return errno == ENOENT ? 0 : -1;
        return shmctl(id, IPC_RMID, nullptr) == 0 ? 1 : -1;
    }

    int m_id;
    unsigned char* m_data;
    std::vector<key_t> m_owned;
};

} // namespace

int main()
{
    Peer peer;
    std::string line;
    while (std::getline(std::cin, line))
        std::cout << peer.run(line) << std::endl;
    return EXIT_SUCCESS;
}
