#include "Responders.h"

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

ControlAnswer DfuResponder::getStatus()
{
    if (m_state == kDownloadSync)
        m_state = kDownloadIdle;
    else if (m_state == kManifestSync)
        m_state = kIdle;
    // bStatus OK, bwPollTimeout 0, bState, iString 0
    return ControlAnswer::withData({0x00, 0x00, 0x00, 0x00, m_state, 0x00});
}

std::optional<ControlAnswer> DfuResponder::onControl(const SetupPacket& setup, const std::vector<std::uint8_t>&)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (is(setup, 0x21, 0x01)) {  // DNLOAD
        m_state = setup.wLength ? kDownloadSync : kManifestSync;
        return ControlAnswer::ack();
    }
    if (is(setup, 0xa1, 0x03))  // GETSTATUS
        return getStatus();
    if (is(setup, 0xa1, 0x05))  // GETSTATE
        return ControlAnswer::withData({m_state});
    if (is(setup, 0x21, 0x04) || is(setup, 0x21, 0x06) || is(setup, 0x21, 0x00)) {  // CLRSTATUS, ABORT, DETACH
        m_state = kIdle;
        return ControlAnswer::ack();
    }
    if (is(setup, 0xa1, 0x02))  // UPLOAD: nothing to read back
        return ControlAnswer::withData({});
    return std::nullopt;
}

}  // namespace nsemu
