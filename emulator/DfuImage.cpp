#include "DfuImage.h"

namespace nsemu {

void DfuImage::begin()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_blocks.clear();
}

void DfuImage::store(std::uint16_t blockNumber, Bytes data)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_blocks[blockNumber] = std::move(data);
}

void DfuImage::manifest()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_manifested = joinedLocked();
    ++m_manifestations;
}

DfuImage::Bytes DfuImage::joinedLocked() const
{
    Bytes image;
    for (const auto& block : m_blocks)
        image.insert(image.end(), block.second.begin(), block.second.end());
    return image;
}

DfuImage::Bytes DfuImage::received() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return joinedLocked();
}

std::size_t DfuImage::blockCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_blocks.size();
}

DfuImage::Bytes DfuImage::manifested() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_manifested;
}

int DfuImage::manifestations() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_manifestations;
}

}  // namespace nsemu
