#include "EmulatorFixture.h"

namespace nsemu {
namespace testing {

LibusbSession::LibusbSession()
{
    if (libusb_init(&m_context) != 0)
        throw std::runtime_error("libusb_init failed");
    m_events = std::thread([this] {
        while (!m_stop)
            libusb_handle_events(m_context);
    });
}

LibusbSession::~LibusbSession()
{
    m_stop = true;
    libusb_interrupt_event_handler(m_context);
    m_events.join();
    libusb_exit(m_context);
}

libusb_device_handle* LibusbSession::open(std::uint16_t vendor, std::uint16_t product)
{
    return libusb_open_device_with_vid_pid(m_context, vendor, product);
}

std::vector<std::pair<int, int>> LibusbSession::listed()
{
    libusb_device** list = nullptr;
    const ssize_t count = libusb_get_device_list(m_context, &list);
    std::vector<std::pair<int, int>> result;
    for (ssize_t i = 0; i < count; ++i)
        result.emplace_back(libusb_get_bus_number(list[i]), libusb_get_device_address(list[i]));
    libusb_free_device_list(list, 1);
    return result;
}

AsyncTransfer::AsyncTransfer(libusb_device_handle* handle, std::uint8_t endpoint, int length, unsigned timeoutMs)
    : m_transfer(libusb_alloc_transfer(0)), m_buffer(length)
{
    libusb_fill_interrupt_transfer(m_transfer, handle, endpoint, m_buffer.data(), length, onDone, this, timeoutMs);
}

AsyncTransfer::AsyncTransfer(libusb_device_handle* handle, std::uint8_t endpoint, const Bytes& out,
                             unsigned timeoutMs)
    : m_transfer(libusb_alloc_transfer(0)), m_buffer(out)
{
    libusb_fill_interrupt_transfer(m_transfer, handle, endpoint, m_buffer.data(), static_cast<int>(out.size()),
                                   onDone, this, timeoutMs);
}

AsyncTransfer::~AsyncTransfer()
{
    bool pending;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        pending = m_submitted && !m_done;
    }
    if (pending && libusb_cancel_transfer(m_transfer) == 0)
        waitDone();
    libusb_free_transfer(m_transfer);
}

int AsyncTransfer::submit()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const int result = libusb_submit_transfer(m_transfer);
    m_submitted = result == 0;
    return result;
}

void AsyncTransfer::onDone(libusb_transfer* transfer)
{
    auto* self = static_cast<AsyncTransfer*>(transfer->user_data);
    std::lock_guard<std::mutex> lock(self->m_mutex);
    self->m_done = true;
    self->m_changed.notify_all();
}

bool AsyncTransfer::waitDone(Millis timeout)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [this] { return m_done; });
}

Bytes AsyncTransfer::received() const
{
    return Bytes(m_buffer.begin(), m_buffer.begin() + m_transfer->actual_length);
}

HotplugWatcher::HotplugWatcher(libusb_context* context) : m_context(context)
{
    const int events = LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED | LIBUSB_HOTPLUG_EVENT_DEVICE_LEFT;
    libusb_hotplug_register_callback(context, events, LIBUSB_HOTPLUG_NO_FLAGS, LIBUSB_HOTPLUG_MATCH_ANY,
                                     LIBUSB_HOTPLUG_MATCH_ANY, LIBUSB_HOTPLUG_MATCH_ANY, onEvent, this,
                                     &m_handle);
}

HotplugWatcher::~HotplugWatcher()
{
    libusb_hotplug_deregister_callback(m_context, m_handle);
}

int HotplugWatcher::onEvent(libusb_context*, libusb_device*, libusb_hotplug_event event, void* self)
{
    auto* watcher = static_cast<HotplugWatcher*>(self);
    std::lock_guard<std::mutex> lock(watcher->m_mutex);
    if (event == LIBUSB_HOTPLUG_EVENT_DEVICE_ARRIVED)
        ++watcher->m_arrived;
    else
        ++watcher->m_left;
    watcher->m_changed.notify_all();
    return 0;
}

bool HotplugWatcher::waitFor(const std::size_t& counter, std::size_t count, Millis timeout)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    return m_changed.wait_for(lock, timeout, [&] { return counter >= count; });
}

bool HotplugWatcher::waitArrived(std::size_t count, Millis timeout)
{
    return waitFor(m_arrived, count, timeout);
}

bool HotplugWatcher::waitLeft(std::size_t count, Millis timeout)
{
    return waitFor(m_left, count, timeout);
}

std::vector<std::string> EmulatorTest::recordLines(DeviceId id)
{
    std::vector<std::string> lines;
    for (const Record& r : emu.records(id))
        lines.push_back(describe(r));
    return lines;
}

}  // namespace testing
}  // namespace nsemu
