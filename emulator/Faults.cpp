#include "Faults.h"

namespace nsemu {

namespace {

bool fieldMatches(int wanted, int actual)
{
    return wanted < 0 || wanted == actual;
}

}  // namespace

bool RequestMatch::matches(const SetupPacket& setup) const
{
    return fieldMatches(bmRequestType, setup.bmRequestType) && fieldMatches(bRequest, setup.bRequest) &&
           fieldMatches(wValue, setup.wValue) && fieldMatches(wIndex, setup.wIndex);
}

template <typename Pred>
std::optional<Fault> FaultList::take(Pred pred)
{
    for (auto it = m_faults.begin(); it != m_faults.end(); ++it) {
        if (!pred(*it))
            continue;
        Fault fired = *it;
        if (it->remaining != kAlways && --it->remaining <= 0)
            m_faults.erase(it);
        return fired;
    }
    return std::nullopt;
}

std::optional<Fault> FaultList::takeForRequest(const SetupPacket& setup)
{
    return take([&](const Fault& f) { return f.target == Fault::Target::Request && f.request.matches(setup); });
}

std::optional<Fault> FaultList::takeForEndpoint(std::uint8_t endpoint)
{
    return take([&](const Fault& f) {
        return f.target == Fault::Target::Endpoint && f.endpoint == endpoint && f.action != Fault::Action::Reject;
    });
}

std::optional<Fault> FaultList::takeRejection(std::uint8_t endpoint)
{
    return take([&](const Fault& f) {
        return f.target == Fault::Target::Endpoint && f.endpoint == endpoint && f.action == Fault::Action::Reject;
    });
}

}  // namespace nsemu
