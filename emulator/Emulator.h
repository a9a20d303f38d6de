// The USB device emulator: one umockdev testbed per process, into which
// tests plug emulated devices that the real libusb (linked by the library
// under test) enumerates, opens and drives through usbdevfs ioctls.
//
// Preconditions: libumockdev-preload.so.0 is loaded from process start
// (see Preload.h), and Emulator::instance() runs before the first
// libusb_init() of the process, because libusb and libudev look at /sys
// and /dev when they initialise.
//
// libusb lists devices newest first: devices present at libusb_init() in
// descending (bus, address) order, later plugs in front of them.
//
// All members are thread safe and may be called from any thread while
// libusb runs in others.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "Device.h"
#include "DeviceDescription.h"
#include "Faults.h"
#include "PollClock.h"
#include "Records.h"

typedef struct _UMockdevTestbed UMockdevTestbed;

namespace nsemu {

class IoctlRouter;

using DeviceId = std::int64_t;
using Millis = std::chrono::milliseconds;
constexpr Millis kDefaultWait{10000};

class Emulator {
public:
    static Emulator& instance();

    std::string rootDir() const { return m_rootDir; }

    // Adds the device to sysfs and /dev and announces it with an "add"
    // uevent. Throws std::invalid_argument if bus/address is taken.
    DeviceId plug(const DeviceDescription& model);
    // Fails the device's URBs in flight (-ESHUTDOWN), sends the "remove"
    // uevent, then removes it; its open descriptors get ENODEV from then on.
    void unplug(DeviceId id);
    void unplugAll();

    // Re-enumeration: a device whose behaviour asks for it (a
    // ReenumeratingResponder) leaves the bus and comes back as another
    // device at the next free address of its bus, once the host has taken
    // the answer that asked for it. The successor's id, or 0 if it has not
    // appeared within the timeout.
    DeviceId waitForSuccessor(DeviceId id, Millis timeout = kDefaultWait);

    bool isPlugged(DeviceId id);
    DeviceDescription model(DeviceId id);
    std::string path(DeviceId id);  // "%03i/%03i-%04x-%04x-%02x-%02x"
    std::shared_ptr<Device> device(DeviceId id);

    // Completes the oldest pending interrupt IN URB with report, or queues
    // it (in order) until the host submits one.
    void feedInput(DeviceId id, Bytes report);
    // While on, the device answers each poll of its interrupt IN endpoint for which it has
    // no fed report with an empty packet (a zero-length transfer), one answer per polling
    // interval of the endpoint (bInterval), as a device the host polls does. Fed reports
    // still go out first and at once.
    void answerEmpty(DeviceId id, bool on);

    // Control requests: stall (-EPIPE), fail with a URB status, or hang
    // (never answered until the host discards the URB, i.e. times out).
    void stallRequest(DeviceId id, const RequestMatch& match, int times = kAlways);
    void failRequest(DeviceId id, const RequestMatch& match, int status, int times = 1);
    void hangRequest(DeviceId id, const RequestMatch& match, int times = kAlways);
    // Endpoint transfers (0x81, 0x01, 0x02): the next ones complete with
    // status, or (OUT) are never accepted until discarded.
    void failEndpoint(DeviceId id, std::uint8_t endpoint, int status, int times = 1);
    void hangEndpoint(DeviceId id, std::uint8_t endpoint, int times = kAlways);
    // The next submissions on the endpoint are refused with errno (e.g. ENOMEM).
    void rejectEndpoint(DeviceId id, std::uint8_t endpoint, int error, int times = 1);
    // The device in use leaves the bus the moment the next matching request, or transfer on
    // the endpoint, reaches it: that one ends as shut down, as every URB in flight does.
    void unplugOnRequest(DeviceId id, const RequestMatch& match);
    void unplugOnEndpoint(DeviceId id, std::uint8_t endpoint);
    void clearFaults(DeviceId id);

    std::vector<Record> records(DeviceId id);
    DeviceStatus status(DeviceId id);

    bool waitFor(DeviceId id, const std::function<bool(const DeviceStatus&)>& done, Millis timeout = kDefaultWait);
    bool waitForPendingIn(DeviceId id, Millis timeout = kDefaultWait);
    bool waitForRecords(DeviceId id, std::size_t count, Millis timeout = kDefaultWait);
    bool waitForDiscards(DeviceId id, std::size_t count, Millis timeout = kDefaultWait);
    bool waitForClients(DeviceId id, std::size_t count, Millis timeout = kDefaultWait);
    bool waitForClaimed(DeviceId id, bool claimed, Millis timeout = kDefaultWait);
    bool waitForEmptyAnswers(DeviceId id, std::size_t count, Millis timeout = kDefaultWait);

private:
    struct Entry {
        std::shared_ptr<Device> device;
        std::string sysPath;
        std::string node;
        bool plugged = true;
    };

    Emulator();
    ~Emulator() = default;  // never runs: the emulator lives until the process ends
    Entry& entry(DeviceId id);
    DeviceId plugLocked(const DeviceDescription& model);
    void unplugLocked(Entry& e);
    int freeAddressLocked(int bus, int after);
    void scheduleReattach(DeviceId id, DeviceDescription next);
    void reattach(DeviceId id, DeviceDescription next);
    void prepareNode(const std::string& node);

    UMockdevTestbed* m_testbed;
    std::string m_rootDir;
    std::unique_ptr<IoctlRouter> m_router;

    std::mutex m_mutex;  // plug/unplug and the table below
    std::map<DeviceId, Entry> m_devices;
    DeviceId m_nextId = 1;
    std::map<DeviceId, DeviceId> m_successors;  // re-enumerated device -> its successor
    std::condition_variable m_successorPlugged;
    PollClock m_pollClock;
};

}  // namespace nsemu
