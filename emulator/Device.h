// One plugged (or formerly plugged) emulated USB device: its URBs, the
// interface claim, the kernel driver binding, fed input, injected faults
// and what it received. Thread safe: the ioctl thread drives it from the
// host side while tests drive it from theirs. Nothing here blocks except
// the wait functions meant for test threads.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "DeviceDescription.h"
#include "Faults.h"
#include "Readiness.h"
#include "Records.h"

namespace nsemu {

using Bytes = std::vector<std::uint8_t>;
using ClientId = const void*;  // one per open file descriptor
using SteadyTime = std::chrono::steady_clock::time_point;

// Linux usbdevfs URB types.
enum UrbType : std::uint8_t { kUrbIso = 0, kUrbInterrupt = 1, kUrbControl = 2, kUrbBulk = 3 };

struct UrbSubmission {
    std::uintptr_t key = 0;  // the host's URB address
    std::uint8_t type = kUrbInterrupt;
    std::uint8_t endpoint = 0;
    int bufferLength = 0;
    Bytes outBytes;  // control: setup packet + OUT data; OUT endpoints: the data
};

struct ReapedUrb {
    std::uintptr_t key = 0;
    int status = 0;
    int actualLength = 0;
    Bytes inData;  // control IN: goes after the setup packet
    bool control = false;
};

struct DeviceStatus {
    bool plugged = false;
    bool kernelDriverBound = false;
    bool claimed = false;
    std::size_t clients = 0;     // open file descriptors
    std::size_t pendingIn = 0;   // IN URBs waiting for input
    std::size_t hung = 0;        // control/OUT URBs held back by a Hang fault
    std::size_t unreaped = 0;    // completed, not yet reaped
    std::size_t discards = 0;    // URBs the host discarded (cancel, timeout)
    std::size_t records = 0;
    std::size_t queuedInput = 0; // fed reports no URB has taken yet
    std::size_t emptyAnswers = 0; // IN URBs completed with no data (answerEmpty)
};

class Device {
public:
    Device(DeviceDescription model, std::unique_ptr<ReadinessFifo> readiness);

    const DeviceDescription& model() const { return m_model; }

    // Host side (ioctl thread). Return 0 or a positive errno.
    void clientConnected(ClientId client);
    void clientGone(ClientId client);
    int submit(ClientId client, const UrbSubmission& urb);
    int reap(ClientId client, ReapedUrb* out);
    int discard(ClientId client, std::uintptr_t key);
    int claim(ClientId client, unsigned interface);
    int release(ClientId client, unsigned interface);
    int getDriver(unsigned interface, std::string* driver);
    int disconnectDriver(unsigned interface);
    // *bound tells whether a kernel driver took the interface.
    int connectDriver(unsigned interface, bool* bound);
    int checkConnected();
    int controlNow(ClientId client, const SetupPacket& setup, const Bytes& outData, Bytes* inData);

    // Test side.
    void unplug();
    // What else the device's leaving takes, when an Unplug fault makes it leave on the
    // ioctl thread (which must not wait for it): called there, with the device's lock held.
    void onLeaving(std::function<void()> leaving);
    void feedInput(Bytes report);
    // While on, a pending interrupt IN URB with no fed report to take is answered with an
    // empty packet, one answer per polling interval of the endpoint (see PollClock).
    void answerEmpty(bool on);
    // Where the device's polls are booked; called with the device's lock held.
    void onPollDue(std::function<void(SteadyTime)> book);
    // The clock's side: answers the oldest pending IN URB empty if its poll is due, and
    // tells when the next poll is due, or nothing when no URB waits for one.
    std::optional<SteadyTime> answerPoll(SteadyTime now);
    void addFault(const Fault& fault);
    void clearFaults();
    std::vector<Record> records();
    DeviceStatus status();
    bool waitUntil(const std::function<bool(const DeviceStatus&)>& done, std::chrono::milliseconds timeout);

private:
    struct Urb {
        ClientId client = nullptr;
        UrbSubmission submission;
        int status = 0;
        Bytes inData;
        int actualLength = 0;
        bool hung = false;  // held back by a Hang fault until discarded
    };

    int checkInterface(ClientId client, unsigned interface);
    int checkControlRecipient(ClientId client, const SetupPacket& setup);
    int submitControl(ClientId client, const UrbSubmission& urb);
    int submitEndpoint(ClientId client, const UrbSubmission& urb);
    void runControl(Urb urb);
    void runOut(Urb urb);
    void runIn(Urb urb);
    void completeIn(Urb& urb, const Bytes& report);
    std::list<Urb>::iterator waitingIn();
    void bookPollLocked();
    void complete(Urb urb);
    void hold(Urb urb);
    void settle(Urb urb, const Fault& fault);
    void leaveBusLocked();
    void record(Record record);
    void changed();
    DeviceStatus statusLocked() const;

    const DeviceDescription m_model;
    std::unique_ptr<ReadinessFifo> m_readiness;

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_plugged = true;
    bool m_driverBound;
    std::optional<ClientId> m_claimedBy;
    std::size_t m_clients = 0;
    std::list<Urb> m_pending;     // submitted, not completed (IN waiting, or hung)
    std::deque<Urb> m_completed;  // waiting to be reaped, in completion order
    std::deque<Bytes> m_input;
    FaultList m_faults;
    std::vector<Record> m_records;
    std::size_t m_discards = 0;
    std::function<void()> m_leaving;
    bool m_answerEmpty = false;
    std::size_t m_emptyAnswers = 0;
    SteadyTime m_nextPoll;  // earliest time of the endpoint's next answer
    std::function<void(SteadyTime)> m_bookPoll;
};

}  // namespace nsemu
