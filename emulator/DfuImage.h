// The firmware image a DFU-mode device has received: blocks by block number,
// and the image it last manifested. Thread safe; the ioctl thread writes it
// while tests read it back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <vector>

namespace nsemu {

class DfuImage {
public:
    using Bytes = std::vector<std::uint8_t>;

    // A new download starts: blocks of an earlier one are forgotten.
    void begin();
    void store(std::uint16_t blockNumber, Bytes data);
    // The download is complete: its blocks become the manifested image.
    void manifest();

    // The blocks received so far, joined in block number order.
    Bytes received() const;
    std::size_t blockCount() const;
    // The image of the last manifestation (empty before the first).
    Bytes manifested() const;
    int manifestations() const;

private:
    Bytes joinedLocked() const;

    mutable std::mutex m_mutex;
    std::map<std::uint16_t, Bytes> m_blocks;
    Bytes m_manifested;
    int m_manifestations = 0;
};

}  // namespace nsemu
