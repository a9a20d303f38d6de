// The native methods of quorvantelix.dm.connections.usb.NativeUSB. Each one checks its
// handle, converts its arguments and hands the work to USBDevice or to discovery.
#include "Discovery.h"
#include "JniUtil.h"
#include "NativeSupport.h"
#include "USBDevice.h"

#include <syslog.h>

#include <new>

#define NATIVE_USB(name) Java_quorvantelix_dm_connections_usb_NativeUSB_##name
#define NATIVE_USB_NAME(name) "Java_quorvantelix_dm_connections_usb_NativeUSB_" #name

namespace {
void logNoDevice(jlong handle)
{
    syslog(LOG_DEBUG, "NATIVESUPPORT: USBDevice* doesn't exist for nativeInstanceHandle %d", handleLogValue(handle));
}

void logNoDfuDevice(const char* exportName, jlong handle)
{
    syslog(LOG_DEBUG, "NATIVESUPPORT: %s.  USBDevice* doesn't exist for nativeInstanceHandle %d", exportName,
           handleLogValue(handle));
}

// Runs `work` on the registered device, or logs the unregistered-handle line and gives
// `fallback`.
template <typename Result, typename Work>
Result withDevice(jlong handle, Result fallback, Work work)
{
    USBDeviceLease device(handle);
    if (!device) {
        logNoDevice(handle);
        return fallback;
    }
    return work(device.get());
}

template <typename Result, typename Work>
Result withDfuDevice(const char* exportName, jlong handle, Result fallback, Work work)
{
    USBDeviceLease device(handle);
    if (!device) {
        logNoDfuDevice(exportName, handle);
        return fallback;
    }
    return work(device.get());
}

jboolean writeWithTimeout(JNIEnv* env, jlong handle, jcharArray command, long timeout)
{
    return withDevice<jboolean>(handle, JNI_FALSE, [&](USBDevice* d) {
        std::vector<char> bytes = lowBytesOf(env, command, d->getReportLength());
        return d->write_Device(bytes.data(), static_cast<int>(bytes.size()), timeout) ? JNI_TRUE : JNI_FALSE;
    });
}
}

extern "C" {

JNIEXPORT jlong JNICALL NATIVE_USB(createNativeUsbInstance)(JNIEnv*, jobject)
{
    USBDevice* device = new (std::nothrow) USBDevice();
    return device != nullptr ? handleFromPointer(device) : 0;
}

JNIEXPORT void JNICALL NATIVE_USB(destroyNativeUsbInstance)(JNIEnv*, jobject, jlong handle)
{
    if (!destroyUSBDevice(handle))
        logNoDevice(handle);
}

JNIEXPORT jshort JNICALL NATIVE_USB(getNativeUsbVid)(JNIEnv*, jobject, jlong handle)
{
    return withDevice<jshort>(handle, 0, [](USBDevice* d) { return d->getVID(); });
}

JNIEXPORT jshort JNICALL NATIVE_USB(getNativeUsbPid)(JNIEnv*, jobject, jlong handle)
{
    return withDevice<jshort>(handle, 0, [](USBDevice* d) { return d->getPID(); });
}

JNIEXPORT jint JNICALL NATIVE_USB(getNativeUsbxMax)(JNIEnv*, jobject, jlong handle)
{
    return withDevice<jint>(handle, 0, [](USBDevice* d) { return d->GetMaxX(); });
}

JNIEXPORT jint JNICALL NATIVE_USB(readMaxX)(JNIEnv*, jobject, jlong handle)
{
    return withDevice<jint>(handle, 0, [](USBDevice* d) { return d->GetMaxX(); });
}

JNIEXPORT jint JNICALL NATIVE_USB(readMaxY)(JNIEnv*, jobject, jlong handle)
{
    return withDevice<jint>(handle, 0, [](USBDevice* d) { return d->GetMaxY(); });
}

JNIEXPORT jstring JNICALL NATIVE_USB(getNativeUsbSerialNumber)(JNIEnv* env, jobject, jlong handle)
{
    return withDevice<jstring>(handle, nullptr, [env](USBDevice* d) { return newString(env, d->GetSerialNumber()); });
}

JNIEXPORT jstring JNICALL NATIVE_USB(getNativeUsbFirmwareVersion)(JNIEnv* env, jobject, jlong handle)
{
    return withDevice<jstring>(handle, nullptr,
                               [env](USBDevice* d) { return newString(env, d->GetFirmwareVersion()); });
}

JNIEXPORT jstring JNICALL NATIVE_USB(getNativeUsbProductName)(JNIEnv* env, jobject, jlong handle)
{
    return withDevice<jstring>(handle, nullptr, [env](USBDevice* d) { return newString(env, d->GetProductName()); });
}

JNIEXPORT jboolean JNICALL NATIVE_USB(connectNativeUsb)(JNIEnv* env, jobject, jlong handle, jstring devicePath)
{
    return withDevice<jboolean>(handle, JNI_FALSE, [&](USBDevice* d) {
        ScopedUtfChars path(env, devicePath);
        if (path.c_str() == nullptr) {
            syslog(LOG_DEBUG, "NATIVESUPPORT: connectNativeUsb() called without a device path.");
            return JNI_FALSE;
        }
        return d->open_Device(path.c_str()) ? JNI_TRUE : JNI_FALSE;
    });
}

JNIEXPORT jbyteArray JNICALL NATIVE_USB(readNativeUsbState)(JNIEnv* env, jobject, jlong handle)
{
    if (queuedReportsOf(handle) == 0)
        return nullptr;   // the usual poll: a device in use with nothing waiting
    return withDevice<jbyteArray>(handle, nullptr, [env](USBDevice* d) -> jbyteArray {
        const int length = d->getReportLength();
        if (length <= 0)
            return nullptr;
        // Interrupt packets are at most 1024 bytes: the usual report needs no allocation.
        char local[1024];
        std::vector<char> large(length > static_cast<int>(sizeof local) ? static_cast<size_t>(length) : 0);
        char* report = large.empty() ? local : large.data();
        const int received = d->read_Device(report, length, 1);
        if (received <= 0)
            return nullptr;
        return newByteArray(env, report, received);
    });
}

JNIEXPORT jboolean JNICALL NATIVE_USB(writeCommand)(JNIEnv* env, jobject, jlong handle, jcharArray command)
{
    return writeWithTimeout(env, handle, command, 200);
}

JNIEXPORT jboolean JNICALL NATIVE_USB(writeFirmwareCommand)(JNIEnv* env, jobject, jlong handle, jcharArray command)
{
    return writeWithTimeout(env, handle, command, 5000);
}

JNIEXPORT jboolean JNICALL NATIVE_USB(writeToControlTransfer)(JNIEnv* env, jobject, jlong handle, jcharArray data)
{
    return withDevice<jboolean>(handle, JNI_FALSE, [&](USBDevice* d) {
        std::vector<char> bytes = lowBytesOf(env, data, d->getReportLength());
        return d->writeToControlTransfer(bytes.data(), static_cast<int>(bytes.size())) ? JNI_TRUE : JNI_FALSE;
    });
}

JNIEXPORT jboolean JNICALL NATIVE_USB(dfuDetach)(JNIEnv*, jobject, jlong handle)
{
    return withDfuDevice<jboolean>(NATIVE_USB_NAME(dfuDetach), handle, JNI_FALSE,
                                   [](USBDevice* d) { return d->dfuDetach() ? JNI_TRUE : JNI_FALSE; });
}

JNIEXPORT jboolean JNICALL NATIVE_USB(dfuDownload)(JNIEnv* env, jobject, jlong handle, jint blockNumber,
                                                   jcharArray data, jint length)
{
    return withDfuDevice<jboolean>(NATIVE_USB_NAME(dfuDownload), handle, JNI_FALSE, [&](USBDevice* d) {
        if (length < 0 || length > 65535) {
            syslog(LOG_DEBUG, "NATIVESUPPORT: DFU Download Failed.  Length (%d) does not fit a DFU block.", length);
            return JNI_FALSE;
        }
        std::vector<char> bytes = lowBytesOf(env, data, length);
        return d->dfuDownload(blockNumber, bytes.data(), length) ? JNI_TRUE : JNI_FALSE;
    });
}

JNIEXPORT jbyteArray JNICALL NATIVE_USB(dfuGetStatus)(JNIEnv* env, jobject, jlong handle)
{
    syslog(LOG_DEBUG, "NATIVESUPPORT: Java_quorvantelix_dm_connections_usb_NativeUSB_dfuGetStatus.");
    return withDfuDevice<jbyteArray>(NATIVE_USB_NAME(dfuGetStatus), handle, nullptr,
                                     [env](USBDevice* d) -> jbyteArray {
                                         char status[6] = {0, 0, 0, 0, 0, 0};
                                         if (d->dfuGetStatus(status) != 6)
                                             return nullptr;
                                         return newByteArray(env, status, 6);
                                     });
}

JNIEXPORT jboolean JNICALL NATIVE_USB(dfuClearStatus)(JNIEnv*, jobject, jlong handle)
{
    return withDfuDevice<jboolean>(NATIVE_USB_NAME(dfuClearStatus), handle, JNI_FALSE,
                                   [](USBDevice* d) { return d->dfuClearStatus() ? JNI_TRUE : JNI_FALSE; });
}

JNIEXPORT jbyteArray JNICALL NATIVE_USB(dfuGetState)(JNIEnv* env, jobject, jlong handle)
{
    return withDfuDevice<jbyteArray>(NATIVE_USB_NAME(dfuGetState), handle, nullptr,
                                     [env](USBDevice* d) -> jbyteArray {
                                         char state = 0;
                                         if (d->dfuGetState(&state) != 1)
                                             return nullptr;
                                         return newByteArray(env, &state, 1);
                                     });
}

JNIEXPORT jboolean JNICALL NATIVE_USB(dfuAbort)(JNIEnv*, jobject, jlong handle)
{
    return withDfuDevice<jboolean>(NATIVE_USB_NAME(dfuAbort), handle, JNI_FALSE,
                                   [](USBDevice* d) { return d->dfuAbort() ? JNI_TRUE : JNI_FALSE; });
}

JNIEXPORT jstring JNICALL NATIVE_USB(discoverUSBInputDevices)(JNIEnv* env, jobject)
{
    return newString(env, discoverDevices());
}

JNIEXPORT jshort JNICALL NATIVE_USB(getNativeUsbVidDirect)(JNIEnv* env, jobject, jstring devicePath)
{
    ScopedUtfChars path(env, devicePath);
    return path.c_str() != nullptr ? getVid(path.c_str()) : 0;
}

JNIEXPORT jshort JNICALL NATIVE_USB(getNativeUsbPidDirect)(JNIEnv* env, jobject, jstring devicePath)
{
    ScopedUtfChars path(env, devicePath);
    return path.c_str() != nullptr ? getPid(path.c_str()) : 0;
}

} // extern "C"
