#include "SyncTransfer.h"

#include <cstring>
#include <memory>
#include <new>

namespace nativesupport {

namespace {
const unsigned int kStringTimeout = 1000;   // ms, as libusb gives its string requests
const int kStringDescriptorSize = 255;      // some devices refuse to answer more

struct TransferDeleter {
    void operator()(libusb_transfer* t) const { libusb_free_transfer(t); }
};
using Transfer = std::unique_ptr<libusb_transfer, TransferDeleter>;

// The only thing the completion does: mark the waiter's flag. The waiter may free the
// transfer the moment it sees the mark.
void LIBUSB_CALL markDone(libusb_transfer* transfer)
{
    __atomic_store_n(static_cast<int*>(transfer->user_data), 1, __ATOMIC_RELEASE);
}

bool isDone(int* done)
{
    return __atomic_load_n(done, __ATOMIC_ACQUIRE) != 0;
}

// Submits the transfer and handles events until it has completed. A failure to handle
// events cancels it and still waits for its completion, so the transfer is never freed
// while libusb holds it.
int submitAndWait(libusb_transfer* transfer, int* done)
{
    *done = 0;
    transfer->user_data = done;
    transfer->callback = markDone;
    const int submitted = libusb_submit_transfer(transfer);
    if (submitted < 0)
        return submitted;
    while (!isDone(done)) {
        const int r = libusb_handle_events_completed(nullptr, done);
        if (r < 0 && r != LIBUSB_ERROR_INTERRUPTED) {
            libusb_cancel_transfer(transfer);
            while (!isDone(done))
                libusb_handle_events_completed(nullptr, done);
        }
    }
    return 0;
}

int getStringDescriptor(libusb_device_handle* handle, uint8_t index, uint16_t language, unsigned char* data,
                        uint16_t length)
{
    return controlTransfer(handle, LIBUSB_ENDPOINT_IN, LIBUSB_REQUEST_GET_DESCRIPTOR,
                           static_cast<uint16_t>(LIBUSB_DT_STRING << 8 | index), language, data, length,
                           kStringTimeout);
}
}

int resultOf(const libusb_transfer* transfer)
{
    switch (transfer->status) {
    case LIBUSB_TRANSFER_COMPLETED: return 0;
    case LIBUSB_TRANSFER_TIMED_OUT: return LIBUSB_ERROR_TIMEOUT;
    case LIBUSB_TRANSFER_STALL: return LIBUSB_ERROR_PIPE;
    case LIBUSB_TRANSFER_NO_DEVICE: return LIBUSB_ERROR_NO_DEVICE;
    case LIBUSB_TRANSFER_OVERFLOW: return LIBUSB_ERROR_OVERFLOW;
    default: return LIBUSB_ERROR_IO;
    }
}

int controlTransfer(libusb_device_handle* handle, uint8_t requestType, uint8_t request, uint16_t value,
                    uint16_t index, unsigned char* data, uint16_t length, unsigned int timeout)
{
    Transfer transfer(libusb_alloc_transfer(0));
    std::unique_ptr<unsigned char[]> buffer(new (std::nothrow) unsigned char[LIBUSB_CONTROL_SETUP_SIZE + length]);
    if (!transfer || !buffer)
        return LIBUSB_ERROR_NO_MEM;
    libusb_fill_control_setup(buffer.get(), requestType, request, value, index, length);
    const bool in = (requestType & LIBUSB_ENDPOINT_DIR_MASK) == LIBUSB_ENDPOINT_IN;
    if (!in && length > 0)
        std::memcpy(buffer.get() + LIBUSB_CONTROL_SETUP_SIZE, data, length);
    libusb_fill_control_transfer(transfer.get(), handle, buffer.get(), nullptr, nullptr, timeout);
    int done;
    const int submitted = submitAndWait(transfer.get(), &done);
    if (submitted < 0)
        return submitted;
    const int error = resultOf(transfer.get());
    if (error != 0)
        return error;
    if (in && transfer->actual_length > 0)
        std::memcpy(data, libusb_control_transfer_get_data(transfer.get()), static_cast<size_t>(transfer->actual_length));
    return transfer->actual_length;
}

int interruptTransfer(libusb_device_handle* handle, unsigned char endpoint, unsigned char* data, int length,
                      int* transferred, unsigned int timeout)
{
    *transferred = 0;
    Transfer transfer(libusb_alloc_transfer(0));
    if (!transfer)
        return LIBUSB_ERROR_NO_MEM;
    libusb_fill_interrupt_transfer(transfer.get(), handle, endpoint, data, length, nullptr, nullptr, timeout);
    int done;
    const int submitted = submitAndWait(transfer.get(), &done);
    if (submitted < 0)
        return submitted;
    *transferred = transfer->actual_length;
    return resultOf(transfer.get());
}

int stringDescriptorAscii(libusb_device_handle* handle, uint8_t index, unsigned char* data, int length)
{
    if (index == 0 || length <= 0)
        return LIBUSB_ERROR_INVALID_PARAM;
    // String descriptor 0 lists the languages; the first one is asked for.
    unsigned char languages[4];
    int r = getStringDescriptor(handle, 0, 0, languages, sizeof languages);
    if (r < 0)
        return r;
    if (r != 4 || languages[0] < 4 || languages[1] != LIBUSB_DT_STRING)
        return LIBUSB_ERROR_IO;
    const uint16_t language = static_cast<uint16_t>(languages[2] | languages[3] << 8);

    unsigned char descriptor[kStringDescriptorSize];
    r = getStringDescriptor(handle, index, language, descriptor, sizeof descriptor);
    if (r < 0)
        return r;
    if (r < 2 || descriptor[0] > r || descriptor[1] != LIBUSB_DT_STRING)
        return LIBUSB_ERROR_IO;
    int written = 0;
    for (int i = 2; i + 1 < descriptor[0] && written < length - 1; i += 2) {
        const unsigned unit = descriptor[i] | descriptor[i + 1] << 8;
        data[written++] = static_cast<unsigned char>(unit < 0x80 ? unit : '?');
    }
    data[written] = 0;
    return written;
}

} // namespace nativesupport
