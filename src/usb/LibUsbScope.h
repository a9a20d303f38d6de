#pragma once
// libusb resources held for one scope. Whatever is taken from a context (its device list,
// the devices in it) must be given back before that context ends: declare the context
// first, so that it outlives what is taken from it.
#include <libusb-1.0/libusb.h>

namespace nativesupport {

// A reference on libusb's default context (libusb_init counts them), or on a private
// context of its own. Empty when libusb could not start.
class LibUsbContext {
public:
    enum Kind { Default, Private };

    explicit LibUsbContext(Kind kind)
    {
        libusb_context* context = nullptr;
        m_started = libusb_init(kind == Private ? &context : nullptr) == 0;
        m_context = m_started ? context : nullptr;
    }
    ~LibUsbContext()
    {
        if (m_started)
            libusb_exit(m_context);
    }
    LibUsbContext(LibUsbContext&& other) noexcept : m_context(other.m_context), m_started(other.m_started)
    {
        other.m_started = false;
    }
    LibUsbContext& operator=(LibUsbContext&& other) noexcept
    {
        if (this != &other) {
            if (m_started)
                libusb_exit(m_context);
            m_context = other.m_context;
            m_started = other.m_started;
            other.m_started = false;
        }
        return *this;
    }
    LibUsbContext(const LibUsbContext&) = delete;
    LibUsbContext& operator=(const LibUsbContext&) = delete;

    explicit operator bool() const { return m_started; }
    libusb_context* get() const { return m_context; }   // null for the default context

private:
    libusb_context* m_context = nullptr;
    bool m_started = false;
};

// The attached devices of a context, released (each device unreferenced) with the scope.
class DeviceList {
public:
    explicit DeviceList(const LibUsbContext& context)
        : m_count(context ? libusb_get_device_list(context.get(), &m_list) : -1) {}
    ~DeviceList()
    {
        if (m_count >= 0)
            libusb_free_device_list(m_list, 1);
    }
    DeviceList(const DeviceList&) = delete;
    DeviceList& operator=(const DeviceList&) = delete;

    bool ok() const { return m_count >= 0; }
    ssize_t count() const { return m_count > 0 ? m_count : 0; }
    libusb_device* operator[](ssize_t i) const { return m_list[i]; }

private:
    libusb_device** m_list = nullptr;
    ssize_t m_count;
};

} // namespace nativesupport
