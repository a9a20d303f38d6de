// Behaviour of the models beyond standard requests.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

#include "DeviceDescription.h"
#include "DfuImage.h"
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

// Behaviour that ends with its device leaving the bus and coming back as
// another device (re-enumeration). The emulator binds the reattach function
// when it plugs the device; the responder calls it on the ioctl thread, and
// the emulator unplugs and plugs later on a thread of its own.
class ReenumeratingResponder : public Responder {
public:
    using Reattach = std::function<void(const DeviceDescription& next)>;
    void bindReattach(Reattach reattach);

protected:
    // Asks for the re-enumeration; does nothing while unbound.
    void reattach(const DeviceDescription& next);

private:
    std::mutex m_bindMutex;
    Reattach m_reattach;
};

// DFU 1.1 on interface 0 of a device in DFU mode. The states and requests:
//   dfuIDLE        DNLOAD(n>0): new image, block stored -> dfuDNLOAD-SYNC
//   dfuDNLOAD-SYNC GETSTATUS -> dfuDNBUSY (bwPollTimeout = download poll
//                  timeout) or, with a zero poll timeout, dfuDNLOAD-IDLE;
//                  an injected error -> dfuERROR with its bStatus
//   dfuDNBUSY      after bwPollTimeout: back in dfuDNLOAD-SYNC, whose
//                  GETSTATUS gives dfuDNLOAD-IDLE
//   dfuDNLOAD-IDLE DNLOAD(n>0) -> dfuDNLOAD-SYNC; DNLOAD(0) ->
//                  dfuMANIFEST-SYNC; ABORT -> dfuIDLE
//   dfuMANIFEST-SYNC GETSTATUS: the image is manifested -> dfuMANIFEST
//                  (bwPollTimeout = manifest poll timeout); after it the
//                  device is manifestation tolerant: GETSTATUS -> dfuIDLE
//   dfuERROR       GETSTATUS tells bStatus; CLRSTATUS -> dfuIDLE
// GETSTATE answers the state. A request the state does not allow, and any
// request before a bwPollTimeout has passed, stalls and (outside dfuERROR)
// enters dfuERROR with errSTALLEDPKT. UPLOAD in dfuIDLE reads nothing back.
class DfuResponder : public Responder {
public:
    enum State : std::uint8_t {
        kAppIdle = 0,
        kAppDetach = 1,
        kIdle = 2,
        kDownloadSync = 3,
        kDownloadBusy = 4,
        kDownloadIdle = 5,
        kManifestSync = 6,
        kManifest = 7,
        kError = 10
    };
    static constexpr std::uint8_t kStatusOk = 0x00;
    static constexpr std::uint8_t kErrWrite = 0x03;
    static constexpr std::uint8_t kErrVerify = 0x07;
    static constexpr std::uint8_t kErrStalledPacket = 0x0f;

    DfuResponder();

    std::shared_ptr<DfuImage> image() const { return m_image; }
    State state();
    void setPollTimeouts(std::chrono::milliseconds download, std::chrono::milliseconds manifest);
    // The nth DNLOAD with data from now on (1 = the next) is not stored; the
    // GETSTATUS after it reports bStatus and dfuERROR.
    void failDownload(int nth, std::uint8_t bStatus);
    // GETSTATUS answers only the first `length` bytes of its record (6: all).
    void setStatusLength(int length);

    std::optional<ControlAnswer> onControl(const SetupPacket& setup, const std::vector<std::uint8_t>& outData) override;

private:
    using Clock = std::chrono::steady_clock;

    bool settle();  // false while a bwPollTimeout runs
    ControlAnswer download(const SetupPacket& setup, const std::vector<std::uint8_t>& data);
    ControlAnswer getStatus();
    ControlAnswer invalid();
    void busyFor(State state, std::chrono::milliseconds pollTimeout);

    const std::shared_ptr<DfuImage> m_image;
    std::mutex m_mutex;
    State m_state = kIdle;
    std::uint8_t m_status = kStatusOk;
    std::chrono::milliseconds m_downloadPoll{0};
    std::chrono::milliseconds m_manifestPoll{0};
    std::chrono::milliseconds m_reportedPoll{0};
    Clock::time_point m_busyUntil;
    bool m_blockWritten = false;  // the block of dfuDNLOAD-SYNC went through dfuDNBUSY
    bool m_manifested = false;
    int m_failCountdown = 0;  // DNLOADs until the injected error; 0: none
    std::uint8_t m_failStatus = kStatusOk;
    bool m_failPending = false;
    int m_statusLength = 6;
};

// Run-time mode of a tablet that can update its firmware: on interface 0 it
// answers DFU_DETACH (0x21/0) in appIDLE by entering appDETACH and leaving
// the bus, to come back as its DFU-mode device. GETSTATUS and GETSTATE tell
// appIDLE or appDETACH; every other request is the tablet's own.
class DfuRuntimeResponder : public ReenumeratingResponder {
public:
    explicit DfuRuntimeResponder(DeviceDescription dfuMode);

    // The device it comes back as (bus and address are the emulator's choice).
    const DeviceDescription& dfuMode() const { return m_dfuMode; }

    std::optional<ControlAnswer> onControl(const SetupPacket& setup, const std::vector<std::uint8_t>& outData) override;

private:
    const DeviceDescription m_dfuMode;
    std::mutex m_mutex;
    DfuResponder::State m_state = DfuResponder::kAppIdle;
};

}  // namespace nsemu
