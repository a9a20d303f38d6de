#include "Responders.h"

#include <algorithm>

namespace nsemu {

namespace {

constexpr std::uint16_t kFeatureReport2 = 0x0302;

bool is(const SetupPacket& s, std::uint8_t type, std::uint8_t request)
{
    return s.bmRequestType == type && s.bRequest == request;
}

}  // namespace

FeatureReportResponder::FeatureReportResponder(std::uint16_t firmwareVersion, std::uint16_t maxXPlusOne,
                                               std::uint16_t maxYPlusOne)
    : m_answers{{kFirmwareVersion, firmwareVersion}, {kMaxXPlusOne, maxXPlusOne}, {kMaxYPlusOne, maxYPlusOne}}
{
}

void FeatureReportResponder::setAnswer(const Command& command, std::uint16_t value)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_answers[command] = value;
}

std::optional<ControlAnswer> FeatureReportResponder::onControl(const SetupPacket& setup,
                                                               const std::vector<std::uint8_t>& outData)
{
    if (setup.wValue != kFeatureReport2)
        return std::nullopt;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (is(setup, 0x21, 0x09)) {
        if (outData.size() != 3)
            return ControlAnswer::stalled();
        m_last = Command{outData[0], outData[1], outData[2]};
        return ControlAnswer::ack();
    }
    if (is(setup, 0xa1, 0x01)) {
        auto answer = m_last ? m_answers.find(*m_last) : m_answers.end();
        if (answer == m_answers.end())
            return ControlAnswer::stalled();
        const std::uint16_t value = answer->second;
        return ControlAnswer::withData({0x02, static_cast<std::uint8_t>(value & 0xff),
                                        static_cast<std::uint8_t>(value >> 8)});
    }
    return std::nullopt;
}

void ReenumeratingResponder::bindReattach(Reattach reattach)
{
    std::lock_guard<std::mutex> lock(m_bindMutex);
    m_reattach = std::move(reattach);
}

void ReenumeratingResponder::reattach(const DeviceDescription& next)
{
    std::lock_guard<std::mutex> lock(m_bindMutex);
    if (m_reattach)
        m_reattach(next);
}

DfuResponder::DfuResponder() : m_image(std::make_shared<DfuImage>()) {}

DfuResponder::State DfuResponder::state()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    settle();
    return m_state;
}

void DfuResponder::setPollTimeouts(std::chrono::milliseconds download, std::chrono::milliseconds manifest)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_downloadPoll = download;
    m_manifestPoll = manifest;
}

void DfuResponder::failDownload(int nth, std::uint8_t bStatus)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_failCountdown = nth;
    m_failStatus = bStatus;
}

void DfuResponder::setStatusLength(int length)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_statusLength = length;
}

bool DfuResponder::settle()
{
    if (m_state != kDownloadBusy && m_state != kManifest)
        return true;
    if (Clock::now() < m_busyUntil)
        return false;
    m_state = m_state == kDownloadBusy ? kDownloadSync : kManifestSync;
    return true;
}

void DfuResponder::busyFor(State state, std::chrono::milliseconds pollTimeout)
{
    m_state = state;
    m_reportedPoll = pollTimeout;
    m_busyUntil = Clock::now() + pollTimeout;
}

ControlAnswer DfuResponder::invalid()
{
    if (m_state != kError) {
        m_state = kError;
        m_status = kErrStalledPacket;
    }
    return ControlAnswer::stalled();
}

ControlAnswer DfuResponder::download(const SetupPacket& setup, const std::vector<std::uint8_t>& data)
{
    if (m_state == kDownloadIdle && setup.wLength == 0) {
        m_state = kManifestSync;
        m_manifested = false;
        return ControlAnswer::ack();
    }
    if ((m_state != kIdle && m_state != kDownloadIdle) || setup.wLength == 0)
        return invalid();
    if (m_state == kIdle)
        m_image->begin();
    m_failPending = m_failCountdown > 0 && --m_failCountdown == 0;
    if (!m_failPending)
        m_image->store(setup.wValue, data);
    m_blockWritten = false;
    m_state = kDownloadSync;
    return ControlAnswer::ack();
}

ControlAnswer DfuResponder::getStatus()
{
    m_reportedPoll = std::chrono::milliseconds(0);
    if (m_state == kDownloadSync) {
        if (m_failPending) {
            m_failPending = false;
            m_state = kError;
            m_status = m_failStatus;
        } else if (!m_blockWritten && m_downloadPoll.count() > 0) {
            m_blockWritten = true;
            busyFor(kDownloadBusy, m_downloadPoll);
        } else {
            m_state = kDownloadIdle;
        }
    } else if (m_state == kManifestSync) {
        if (!m_manifested) {
            m_manifested = true;
            m_image->manifest();
            busyFor(kManifest, m_manifestPoll);
        } else {
            m_state = kIdle;
        }
    }
    const auto poll = static_cast<std::uint32_t>(m_reportedPoll.count());
    std::vector<std::uint8_t> record = {m_status,
                                        static_cast<std::uint8_t>(poll & 0xff),
                                        static_cast<std::uint8_t>((poll >> 8) & 0xff),
                                        static_cast<std::uint8_t>((poll >> 16) & 0xff),
                                        m_state,
                                        0x00};
    record.resize(static_cast<std::size_t>(std::max(0, std::min(m_statusLength, 6))));
    return ControlAnswer::withData(std::move(record));
}

std::optional<ControlAnswer> DfuResponder::onControl(const SetupPacket& setup,
                                                     const std::vector<std::uint8_t>& outData)
{
    const bool classInterface = (setup.bmRequestType & 0x7f) == 0x21;
    if (!classInterface)
        return std::nullopt;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!settle())
        return invalid();
    const bool out = !setup.isIn();
    switch (setup.bRequest) {
    case 0x01:  // DNLOAD
        return out ? download(setup, outData) : invalid();
    case 0x02:  // UPLOAD: nothing to read back
        return !out && m_state == kIdle ? ControlAnswer::withData({}) : invalid();
    case 0x03:  // GETSTATUS
        return out ? invalid() : getStatus();
    case 0x04:  // CLRSTATUS
        if (!out || m_state != kError)
            return invalid();
        m_state = kIdle;
        m_status = kStatusOk;
        return ControlAnswer::ack();
    case 0x05:  // GETSTATE
        return out ? invalid() : ControlAnswer::withData({m_state});
    case 0x06:  // ABORT
        if (!out || (m_state != kIdle && m_state != kDownloadIdle))
            return invalid();
        m_state = kIdle;
        return ControlAnswer::ack();
    default:  // DETACH and anything else is not for a device in DFU mode
        return invalid();
    }
}

DfuRuntimeResponder::DfuRuntimeResponder(DeviceDescription dfuMode) : m_dfuMode(std::move(dfuMode)) {}

std::optional<ControlAnswer> DfuRuntimeResponder::onControl(const SetupPacket& setup,
                                                            const std::vector<std::uint8_t>&)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (is(setup, 0x21, 0x00)) {  // DETACH
        if (m_state != DfuResponder::kAppIdle)
            return ControlAnswer::stalled();
        m_state = DfuResponder::kAppDetach;
        reattach(m_dfuMode);
        return ControlAnswer::ack();
    }
    if (is(setup, 0xa1, 0x03) && setup.wLength == 6)  // GETSTATUS
        return ControlAnswer::withData({DfuResponder::kStatusOk, 0, 0, 0, m_state, 0});
    if (is(setup, 0xa1, 0x05) && setup.wLength == 1)  // GETSTATE
        return ControlAnswer::withData({m_state});
    return std::nullopt;
}

}  // namespace nsemu
