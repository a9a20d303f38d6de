// Device: the empty packets of a device that answers the host's polls while
// it has no report to send.
#include "Device.h"

#include <algorithm>

#include "Descriptors.h"

namespace nsemu {

namespace {

constexpr std::uint8_t kInEndpoint = 0x81;

}  // namespace

std::list<Device::Urb>::iterator Device::waitingIn()
{
    return std::find_if(m_pending.begin(), m_pending.end(),
                        [](const Urb& u) { return u.submission.endpoint == kInEndpoint && !u.hung; });
}

void Device::answerEmpty(bool on)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_answerEmpty = on;
    bookPollLocked();
}

void Device::onPollDue(std::function<void(SteadyTime)> book)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_bookPoll = std::move(book);
}

void Device::bookPollLocked()
{
    if (m_answerEmpty && m_bookPoll && m_plugged && m_input.empty() && waitingIn() != m_pending.end())
        m_bookPoll(m_nextPoll);
}

std::optional<SteadyTime> Device::answerPoll(SteadyTime now)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto waiting = waitingIn();
    if (!m_answerEmpty || !m_plugged || !m_input.empty() || waiting == m_pending.end())
        return std::nullopt;
    if (now < m_nextPoll)
        return m_nextPoll;
    Urb urb = std::move(*waiting);
    m_pending.erase(waiting);
    completeIn(urb, Bytes());
    ++m_emptyAnswers;
    complete(std::move(urb));
    if (waitingIn() == m_pending.end())
        return std::nullopt;
    return m_nextPoll;
}

}  // namespace nsemu
