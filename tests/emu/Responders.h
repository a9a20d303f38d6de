// Behaviour of the models beyond standard requests.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <mutex>

#include "Responder.h"

namespace nsemu {

// Feature report protocol of the 0x08ca/0x172f tablets: SET_REPORT
// (0x21/9, wValue 0x0302, 3 bytes) stores a command; GET_REPORT
// (0xA1/1, wValue 0x0302) answers 02 <low> <high> with the value
// configured for the last command. No command yet, or an unknown one:
// GET_REPORT stalls.
class FeatureReportResponder : public Responder {
public:
    using Command = std::array<std::uint8_t, 3>;
    static constexpr Command kFirmwareVersion{0x02, 0x04, 0x00};
    static constexpr Command kMaxXPlusOne{0x02, 0x01, 0x00};
    static constexpr Command kMaxYPlusOne{0x02, 0x01, 0x01};

    FeatureReportResponder(std::uint16_t firmwareVersion, std::uint16_t maxXPlusOne, std::uint16_t maxYPlusOne);
    void setAnswer(const Command& command, std::uint16_t value);

    std::optional<ControlAnswer> onControl(const SetupPacket& setup, const std::vector<std::uint8_t>& outData) override;

private:
    std::mutex m_mutex;
    std::map<Command, std::uint16_t> m_answers;
    std::optional<Command> m_last;
};

// DFU 1.1 class requests of a device in DFU mode: DNLOAD blocks move the
// state to dfuDNLOAD-SYNC, GETSTATUS to dfuDNLOAD-IDLE; a zero-length
// DNLOAD ends in dfuMANIFEST-SYNC and GETSTATUS back to dfuIDLE (the
// device is manifestation tolerant). ABORT and CLRSTATUS reset to dfuIDLE.
class DfuResponder : public Responder {
public:
    enum State : std::uint8_t { kIdle = 2, kDownloadSync = 3, kDownloadIdle = 5, kManifestSync = 6 };

    std::optional<ControlAnswer> onControl(const SetupPacket& setup, const std::vector<std::uint8_t>& outData) override;

private:
    ControlAnswer getStatus();

    std::mutex m_mutex;
    State m_state = kIdle;
};

}  // namespace nsemu
