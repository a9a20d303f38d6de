// Device: URBs from submission to reaping, control requests, fed input
// and unplugging.
#include "Device.h"

#include <algorithm>
#include <cerrno>

#include "ControlRequests.h"
#include "Descriptors.h"

namespace nsemu {

namespace {

constexpr std::size_t kSetupSize = 8;

SetupPacket parseSetup(const Bytes& b)
{
    SetupPacket s;
    s.bmRequestType = b[0];
    s.bRequest = b[1];
    s.wValue = static_cast<std::uint16_t>(b[2] | b[3] << 8);
    s.wIndex = static_cast<std::uint16_t>(b[4] | b[5] << 8);
    s.wLength = static_cast<std::uint16_t>(b[6] | b[7] << 8);
    return s;
}

bool isEndpointUrb(std::uint8_t type)
{
    return type == kUrbInterrupt || type == kUrbBulk;
}

Record failedOrHung(Record record, const Fault& fault)
{
    record.outcome = fault.action == Fault::Action::Hang ? Outcome::Hung : Outcome::Failed;
    record.status = fault.status;
    return record;
}

}  // namespace

Device::Device(DeviceDescription model, std::unique_ptr<ReadinessFifo> readiness)
    : m_model(std::move(model)), m_readiness(std::move(readiness)), m_driverBound(m_model.kernelDriverBound)
{
}

int Device::checkConnected()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_plugged ? 0 : ENODEV;
}

int Device::submit(ClientId client, const UrbSubmission& submission)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_plugged)
        return ENODEV;
    if (submission.type == kUrbControl)
        return submitControl(client, submission);
    if (isEndpointUrb(submission.type))
        return submitEndpoint(client, submission);
    return EINVAL;
}

int Device::submitControl(ClientId client, const UrbSubmission& submission)
{
    if (submission.outBytes.size() < kSetupSize || submission.endpoint != 0)
        return EINVAL;
    const SetupPacket setup = parseSetup(submission.outBytes);
    if (submission.bufferLength < static_cast<int>(kSetupSize + setup.wLength))
        return EINVAL;
    if (int err = checkControlRecipient(client, setup))
        return err;
    runControl(Urb{client, submission, 0, {}, 0, false});
    return 0;
}

int Device::submitEndpoint(ClientId client, const UrbSubmission& submission)
{
    if (!hasEndpoint(m_model, submission.endpoint))
        return ENOENT;
    if (int err = checkInterface(client, 0))
        return err;
    if (auto rejection = m_faults.takeRejection(submission.endpoint))
        return rejection->status;
    Urb urb{client, submission, 0, {}, 0, false};
    if (submission.endpoint & 0x80)
        runIn(std::move(urb));
    else
        runOut(std::move(urb));
    return 0;
}

void Device::runControl(Urb urb)
{
    const SetupPacket setup = parseSetup(urb.submission.outBytes);
    Record rec;
    rec.kind = Record::Kind::Control;
    rec.setup = setup;
    if (!setup.isIn())
        rec.data.assign(urb.submission.outBytes.begin() + kSetupSize, urb.submission.outBytes.end());

    if (auto fault = m_faults.takeForRequest(setup)) {
        record(failedOrHung(rec, *fault));
        settle(std::move(urb), *fault);
        return;
    }
    const ControlAnswer answer = answerControl(m_model, setup, rec.data);
    if (answer.stall) {
        rec.outcome = Outcome::Failed;
        rec.status = -EPIPE;
    }
    record(rec);
    urb.status = answer.stall ? -EPIPE : 0;
    if (!answer.stall) {
        urb.inData = setup.isIn() ? answer.data : Bytes();
        urb.actualLength = setup.isIn() ? static_cast<int>(answer.data.size()) : setup.wLength;
    }
    complete(std::move(urb));
}

void Device::runOut(Urb urb)
{
    Record rec;
    rec.kind = Record::Kind::InterruptOut;
    rec.endpoint = urb.submission.endpoint;
    rec.data = urb.submission.outBytes;
    if (auto fault = m_faults.takeForEndpoint(urb.submission.endpoint)) {
        record(failedOrHung(rec, *fault));
        settle(std::move(urb), *fault);
        return;
    }
    record(rec);
    urb.actualLength = static_cast<int>(rec.data.size());
    complete(std::move(urb));
}

void Device::runIn(Urb urb)
{
    if (auto fault = m_faults.takeForEndpoint(urb.submission.endpoint)) {
        settle(std::move(urb), *fault);  // a hung one is never fed: only a discard ends it
        return;
    }
    if (m_input.empty()) {
        m_pending.push_back(std::move(urb));
        bookPollLocked();
        changed();
        return;
    }
    completeIn(urb, m_input.front());
    m_input.pop_front();
    complete(std::move(urb));
}

void Device::completeIn(Urb& urb, const Bytes& report)
{
    const std::size_t room = static_cast<std::size_t>(urb.submission.bufferLength);
    urb.inData.assign(report.begin(), report.begin() + std::min(room, report.size()));
    urb.actualLength = static_cast<int>(urb.inData.size());
    urb.status = report.size() > room ? -EOVERFLOW : 0;
    m_nextPoll = std::chrono::steady_clock::now() + inPollInterval(m_model);
}

void Device::complete(Urb urb)
{
    m_completed.push_back(std::move(urb));
    changed();
}

void Device::hold(Urb urb)
{
    urb.hung = true;
    m_pending.push_back(std::move(urb));
    changed();
}

// The URB of a fault: failed at once, or held back until a discard, or in flight as the
// device leaves the bus.
void Device::settle(Urb urb, const Fault& fault)
{
    urb.status = fault.status;
    if (fault.action == Fault::Action::Fail) {
        complete(std::move(urb));
        return;
    }
    hold(std::move(urb));
    if (fault.action == Fault::Action::Unplug) {
        leaveBusLocked();
        if (m_leaving)
            m_leaving();
    }
}

void Device::record(Record record)
{
    m_records.push_back(std::move(record));
}

void Device::changed()
{
    m_readiness->setReady(!m_completed.empty());
    m_changed.notify_all();
}

int Device::reap(ClientId client, ReapedUrb* out)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = std::find_if(m_completed.begin(), m_completed.end(),
                           [client](const Urb& u) { return u.client == client; });
    if (it == m_completed.end())
        return m_plugged ? EAGAIN : ENODEV;
    out->key = it->submission.key;
    out->status = it->status;
    out->actualLength = it->actualLength;
    out->inData = std::move(it->inData);
    out->control = it->submission.type == kUrbControl;
    m_completed.erase(it);
    changed();
    return 0;
}

int Device::discard(ClientId client, std::uintptr_t key)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_plugged)
        return ENODEV;
    auto it = std::find_if(m_pending.begin(), m_pending.end(), [&](const Urb& u) {
        return u.client == client && u.submission.key == key;
    });
    if (it == m_pending.end())
        return EINVAL;  // unknown or already completed: the host reaps it as it is
    Urb urb = std::move(*it);
    m_pending.erase(it);
    urb.status = -ENOENT;
    urb.actualLength = 0;
    urb.inData.clear();
    ++m_discards;
    complete(std::move(urb));
    return 0;
}

int Device::controlNow(ClientId client, const SetupPacket& setup, const Bytes& outData, Bytes* inData)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_plugged)
        return ENODEV;
    if (int err = checkControlRecipient(client, setup))
        return err;
    Record rec;
    rec.setup = setup;
    rec.data = setup.isIn() ? Bytes() : outData;
    if (auto fault = m_faults.takeForRequest(setup)) {
        record(failedOrHung(rec, *fault));
        changed();
        return fault->action == Fault::Action::Hang ? ETIMEDOUT : -fault->status;
    }
    const ControlAnswer answer = answerControl(m_model, setup, rec.data);
    if (answer.stall) {
        rec.outcome = Outcome::Failed;
        rec.status = -EPIPE;
    }
    record(rec);
    changed();
    if (answer.stall)
        return EPIPE;
    *inData = setup.isIn() ? answer.data : Bytes();
    return 0;
}

void Device::unplug()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    leaveBusLocked();
}

void Device::onLeaving(std::function<void()> leaving)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_leaving = std::move(leaving);
}

void Device::leaveBusLocked()
{
    if (!m_plugged)
        return;
    m_plugged = false;
    m_claimedBy.reset();
    // The host controller gives every URB in flight back as shut down.
    for (Urb& urb : m_pending) {
        urb.status = -ESHUTDOWN;
        urb.actualLength = 0;
        urb.inData.clear();
        m_completed.push_back(std::move(urb));
    }
    m_pending.clear();
    changed();
}

void Device::feedInput(Bytes report)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto waiting = waitingIn();
    if (!m_plugged || waiting == m_pending.end() || !m_input.empty()) {
        m_input.push_back(std::move(report));
        changed();
        return;
    }
    Urb urb = std::move(*waiting);
    m_pending.erase(waiting);
    completeIn(urb, report);
    complete(std::move(urb));
}

}  // namespace nsemu
