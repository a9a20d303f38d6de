#include "Emulator.h"

#include <errno.h>
#include <ftw.h>
#include <sys/stat.h>
#include <umockdev.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>
#include <thread>

#include "IoctlRouter.h"
#include "Preload.h"
#include "Responders.h"
#include "Sysfs.h"

namespace nsemu {

namespace {

std::string g_rootToRemove;

void makeDirs(const std::string& path)
{
    for (std::size_t slash = path.find('/', 1); ; slash = path.find('/', slash + 1)) {
        mkdir(path.substr(0, slash).c_str(), 0755);
        if (slash == std::string::npos)
            return;
    }
}

int removeEntry(const char* path, const struct stat*, int, struct FTW*)
{
    return remove(path);
}

void removeRootAtExit()
{
    nftw(g_rootToRemove.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS);
}

}  // namespace

Emulator& Emulator::instance()
{
    static Emulator* g_emulator = new Emulator();
    return *g_emulator;
}

Emulator::Emulator()
{
    if (!isPreloaded())
        throw std::runtime_error("libumockdev-preload.so.0 is not loaded; start the process with it in LD_PRELOAD");
    m_testbed = umockdev_testbed_new();
    gchar* root = umockdev_testbed_get_root_dir(m_testbed);
    m_rootDir = root;
    g_free(root);
    m_router = std::make_unique<IoctlRouter>(m_testbed, m_rootDir);
    // A machine with a USB host controller and nothing plugged in yet.
    makeDirs(m_rootDir + "/sys/bus/usb/devices");
    makeDirs(m_rootDir + "/dev/bus/usb");
    g_rootToRemove = m_rootDir;
    std::atexit(removeRootAtExit);
}

void Emulator::prepareNode(const std::string& node)
{
    makeDirs(m_rootDir + node.substr(0, node.rfind('/')));
    m_router->attach(node);
}

DeviceId Emulator::plug(const DeviceDescription& model)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return plugLocked(model);
}

DeviceId Emulator::plugLocked(const DeviceDescription& model)
{
    const std::string node = deviceNode(model);
    for (const auto& item : m_devices) {
        if (item.second.plugged && item.second.node == node)
            throw std::invalid_argument("a device is already plugged at " + node);
    }
    prepareNode(node);
    auto device = std::make_shared<Device>(model, ReadinessFifo::create(m_rootDir + node));
    m_router->route(node, device);

    GError* error = nullptr;
    if (!umockdev_testbed_add_from_string(m_testbed, deviceRecord(model).c_str(), &error)) {
        std::string message = error ? error->message : "unknown error";
        g_clear_error(&error);
        m_router->route(node, nullptr);
        unlink((m_rootDir + node).c_str());
        throw std::runtime_error("umockdev rejected device " + node + ": " + message);
    }
    const std::string sysPath = devicePath(model);
    umockdev_testbed_uevent(m_testbed, sysPath.c_str(), "add");

    const DeviceId id = m_nextId++;
    m_devices[id] = Entry{device, sysPath, node, true};
    // An Unplug fault takes the device off the bus on the ioctl thread; the rest of the
    // unplug (uevent, sysfs, node) follows from a thread of its own.
    device->onLeaving([this, id] {
        std::thread([this, id] {
            try {
                unplug(id);
            } catch (const std::exception&) {
            }
        }).detach();
    });
    std::weak_ptr<Device> polled = device;
    device->onPollDue([this, polled](SteadyTime due) {
        if (auto d = polled.lock())
            m_pollClock.book(d, due);
    });
    if (auto reenumerating = std::dynamic_pointer_cast<ReenumeratingResponder>(model.responder))
        reenumerating->bindReattach([this, id](const DeviceDescription& next) { scheduleReattach(id, next); });
    return id;
}

// Called on the ioctl thread with the device's lock held: the device can
// neither be unplugged nor answer more requests from there.
void Emulator::scheduleReattach(DeviceId id, DeviceDescription next)
{
    std::thread([this, id, next]() mutable { reattach(id, std::move(next)); }).detach();
}

void Emulator::reattach(DeviceId id, DeviceDescription next)
{
    try {
        std::shared_ptr<Device> old = device(id);
        old->waitUntil([](const DeviceStatus& s) { return s.unreaped == 0; }, Millis(2000));
        std::lock_guard<std::mutex> lock(m_mutex);
        Entry& e = entry(id);
        if (!e.plugged)
            return;
        unplugLocked(e);
        next.busNumber = old->model().busNumber;
        next.deviceAddress = freeAddressLocked(next.busNumber, old->model().deviceAddress);
        m_successors[id] = plugLocked(next);
        m_successorPlugged.notify_all();
    } catch (const std::exception&) {
        // Nothing comes back; waitForSuccessor tells the test.
    }
}

int Emulator::freeAddressLocked(int bus, int after)
{
    DeviceDescription probe;
    probe.busNumber = bus;
    for (int step = 1; step <= 127; ++step) {
        probe.deviceAddress = (after - 1 + step) % 127 + 1;
        const std::string node = deviceNode(probe);
        bool taken = false;
        for (const auto& item : m_devices)
            taken = taken || (item.second.plugged && item.second.node == node);
        if (!taken)
            return probe.deviceAddress;
    }
    throw std::runtime_error("no free address on bus " + std::to_string(bus));
}

DeviceId Emulator::waitForSuccessor(DeviceId id, Millis timeout)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    if (!m_successorPlugged.wait_for(lock, timeout, [&] { return m_successors.count(id) > 0; }))
        return 0;
    return m_successors[id];
}

void Emulator::unplugLocked(Entry& e)
{
    if (!e.plugged)
        return;
    e.plugged = false;
    e.device->unplug();
    m_router->route(e.node, nullptr);
    umockdev_testbed_uevent(m_testbed, e.sysPath.c_str(), "remove");
    umockdev_testbed_remove_device(m_testbed, e.sysPath.c_str());
    unlink((m_rootDir + e.node).c_str());
}

void Emulator::unplug(DeviceId id)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    unplugLocked(entry(id));
}

void Emulator::unplugAll()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    for (auto& item : m_devices)
        unplugLocked(item.second);
}

Emulator::Entry& Emulator::entry(DeviceId id)
{
    auto it = m_devices.find(id);
    if (it == m_devices.end())
        throw std::invalid_argument("unknown emulated device " + std::to_string(id));
    return it->second;
}

std::shared_ptr<Device> Emulator::device(DeviceId id)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return entry(id).device;
}

bool Emulator::isPlugged(DeviceId id)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return entry(id).plugged;
}

DeviceDescription Emulator::model(DeviceId id)
{
    return device(id)->model();
}

std::string Emulator::path(DeviceId id)
{
    return deviceIdPath(device(id)->model());
}

void Emulator::feedInput(DeviceId id, Bytes report)
{
    device(id)->feedInput(std::move(report));
}

void Emulator::answerEmpty(DeviceId id, bool on)
{
    device(id)->answerEmpty(on);
}

namespace {

Fault requestFault(const RequestMatch& match, Fault::Action action, int status, int times)
{
    Fault f;
    f.target = Fault::Target::Request;
    f.request = match;
    f.action = action;
    f.status = status;
    f.remaining = times;
    return f;
}

Fault endpointFault(std::uint8_t endpoint, Fault::Action action, int status, int times)
{
    Fault f;
    f.target = Fault::Target::Endpoint;
    f.endpoint = endpoint;
    f.action = action;
    f.status = status;
    f.remaining = times;
    return f;
}

}  // namespace

void Emulator::stallRequest(DeviceId id, const RequestMatch& match, int times)
{
    device(id)->addFault(requestFault(match, Fault::Action::Fail, -EPIPE, times));
}

void Emulator::failRequest(DeviceId id, const RequestMatch& match, int status, int times)
{
    device(id)->addFault(requestFault(match, Fault::Action::Fail, status, times));
}

void Emulator::hangRequest(DeviceId id, const RequestMatch& match, int times)
{
    device(id)->addFault(requestFault(match, Fault::Action::Hang, 0, times));
}

void Emulator::failEndpoint(DeviceId id, std::uint8_t endpoint, int status, int times)
{
    device(id)->addFault(endpointFault(endpoint, Fault::Action::Fail, status, times));
}

void Emulator::hangEndpoint(DeviceId id, std::uint8_t endpoint, int times)
{
    device(id)->addFault(endpointFault(endpoint, Fault::Action::Hang, 0, times));
}

void Emulator::rejectEndpoint(DeviceId id, std::uint8_t endpoint, int error, int times)
{
    device(id)->addFault(endpointFault(endpoint, Fault::Action::Reject, error, times));
}

void Emulator::unplugOnRequest(DeviceId id, const RequestMatch& match)
{
    device(id)->addFault(requestFault(match, Fault::Action::Unplug, -ESHUTDOWN, 1));
}

void Emulator::unplugOnEndpoint(DeviceId id, std::uint8_t endpoint)
{
    device(id)->addFault(endpointFault(endpoint, Fault::Action::Unplug, -ESHUTDOWN, 1));
}

void Emulator::clearFaults(DeviceId id)
{
    device(id)->clearFaults();
}

std::vector<Record> Emulator::records(DeviceId id)
{
    return device(id)->records();
}

DeviceStatus Emulator::status(DeviceId id)
{
    return device(id)->status();
}

bool Emulator::waitFor(DeviceId id, const std::function<bool(const DeviceStatus&)>& done, Millis timeout)
{
    return device(id)->waitUntil(done, timeout);
}

bool Emulator::waitForPendingIn(DeviceId id, Millis timeout)
{
    return waitFor(id, [](const DeviceStatus& s) { return s.pendingIn > 0; }, timeout);
}

bool Emulator::waitForRecords(DeviceId id, std::size_t count, Millis timeout)
{
    return waitFor(id, [count](const DeviceStatus& s) { return s.records >= count; }, timeout);
}

bool Emulator::waitForDiscards(DeviceId id, std::size_t count, Millis timeout)
{
    return waitFor(id, [count](const DeviceStatus& s) { return s.discards >= count; }, timeout);
}

bool Emulator::waitForClients(DeviceId id, std::size_t count, Millis timeout)
{
    return waitFor(id, [count](const DeviceStatus& s) { return s.clients == count; }, timeout);
}

bool Emulator::waitForClaimed(DeviceId id, bool claimed, Millis timeout)
{
    return waitFor(id, [claimed](const DeviceStatus& s) { return s.claimed == claimed; }, timeout);
}

bool Emulator::waitForEmptyAnswers(DeviceId id, std::size_t count, Millis timeout)
{
    return waitFor(id, [count](const DeviceStatus& s) { return s.emptyAnswers >= count; }, timeout);
}

}  // namespace nsemu
