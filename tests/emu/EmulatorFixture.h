// Shared pieces of the emulator's own tests: a libusb context with an
// event thread, asynchronous transfers and hotplug events one can wait on.
#pragma once

#include <libusb.h>

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "Emulator.h"
#include "Models.h"

namespace nsemu {
namespace testing {

using Bytes = std::vector<std::uint8_t>;
constexpr Millis kWait{10000};

// libusb context whose events a background thread handles.
class LibusbSession {
public:
    LibusbSession();
    ~LibusbSession();
    libusb_context* context() const { return m_context; }
    // Opens the first listed device with that id; null if absent.
    libusb_device_handle* open(std::uint16_t vendor, std::uint16_t product);
    // (bus, address) of every listed device, in list order.
    std::vector<std::pair<int, int>> listed();

private:
    libusb_context* m_context = nullptr;
    std::atomic<bool> m_stop{false};
    std::thread m_events;
};

// One transfer submitted on a handle whose events are handled elsewhere.
class AsyncTransfer {
public:
    AsyncTransfer(libusb_device_handle* handle, std::uint8_t endpoint, int length, unsigned timeoutMs = 0);
    AsyncTransfer(libusb_device_handle* handle, std::uint8_t endpoint, const Bytes& out, unsigned timeoutMs = 0);
    ~AsyncTransfer();
    int submit();
    bool waitDone(Millis timeout = kWait);
    libusb_transfer_status status() const { return m_transfer->status; }
    Bytes received() const;

private:
    static void LIBUSB_CALL onDone(libusb_transfer* transfer);

    libusb_transfer* m_transfer;
    Bytes m_buffer;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_submitted = false;
    bool m_done = false;
};

// Counts libusb hotplug arrivals and departures.
class HotplugWatcher {
public:
    explicit HotplugWatcher(libusb_context* context);
    ~HotplugWatcher();
    bool waitArrived(std::size_t count, Millis timeout = kWait);
    bool waitLeft(std::size_t count, Millis timeout = kWait);

private:
    static int LIBUSB_CALL onEvent(libusb_context*, libusb_device*, libusb_hotplug_event event, void* self);
    bool waitFor(const std::size_t& counter, std::size_t count, Millis timeout);

    libusb_context* m_context;
    libusb_hotplug_callback_handle m_handle = 0;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::size_t m_arrived = 0;
    std::size_t m_left = 0;
};

class EmulatorTest : public ::testing::Test {
protected:
    void TearDown() override { emu.unplugAll(); }
    std::vector<std::string> recordLines(DeviceId id);

    Emulator& emu = Emulator::instance();
};

}  // namespace testing
}  // namespace nsemu
