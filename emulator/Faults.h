// Injected misbehaviour: stall, fail or hang chosen requests or endpoints.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "Records.h"

namespace nsemu {

constexpr int kAlways = -1;

// Which control requests a fault applies to; -1 matches any value.
struct RequestMatch {
    int bmRequestType = -1;
    int bRequest = -1;
    int wValue = -1;
    int wIndex = -1;

    bool matches(const SetupPacket& setup) const;
};

struct Fault {
    // Fail: the URB completes with `status`; Hang: it is never answered; Reject: its
    // submission fails with the errno `status` (as usbfs refuses one when out of memory);
    // Unplug: the device leaves the bus with the URB in flight (it ends with `status`).
    enum class Action { Fail, Hang, Reject, Unplug };
    enum class Target { Request, Endpoint };

    Target target = Target::Request;
    RequestMatch request;        // Target::Request
    std::uint8_t endpoint = 0;   // Target::Endpoint (address incl. direction bit)
    Action action = Action::Fail;
    int status = 0;              // URB status for Action::Fail, e.g. -EPIPE
    int remaining = 1;           // kAlways or how many more times it fires
};

// The faults of one device, consumed in the order they were added.
class FaultList {
public:
    void add(const Fault& fault) { m_faults.push_back(fault); }
    void clear() { m_faults.clear(); }
    std::optional<Fault> takeForRequest(const SetupPacket& setup);
    std::optional<Fault> takeForEndpoint(std::uint8_t endpoint);
    std::optional<Fault> takeRejection(std::uint8_t endpoint);

private:
    template <typename Pred>
    std::optional<Fault> take(Pred pred);

    std::vector<Fault> m_faults;
};

}  // namespace nsemu
