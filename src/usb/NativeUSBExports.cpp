// The native methods of quorvantelix.dm.connections.usb.NativeUSB. Each one checks its
// handle, converts its arguments and hands the work to USBDevice or to discovery. No C++
// exception leaves them: each runs its work under `guarded`.
#include "Discovery.h"
#include "JniUtil.h"
#include "NativeSupport.h"

#include <syslog.h>

#include <algorithm>
#include <memory>
#include <vector>

#define NATIVE_USB(name) Java_quorvantelix_dm_connections_usb_NativeUSB_##name
#define NATIVE_USB_NAME(name) "Java_quorvantelix_dm_connections_usb_NativeUSB_" #name

using namespace nativesupport;

namespace {
const char kPrefix[] = "NATIVESUPPORT: ";

void logNoDevice(jlong handle)
{
    syslog(LOG_DEBUG, "NATIVESUPPORT: USBDevice* doesn't exist for nativeInstanceHandle %d", handleLogValue(handle));
}

void logNoDfuDevice(const char* exportName, jlong handle)
{
    syslog(LOG_DEBUG, "NATIVESUPPORT: %s.  USBDevice* doesn't exist for nativeInstanceHandle %d", exportName,
           handleLogValue(handle));
}

void logNullArray(const char* method)
{
    syslog(LOG_DEBUG, "NATIVESUPPORT: %s() refused a null array.  Nothing was sent.", method);
}

// Runs `work` on the registered device, held for the call, or logs the unregistered-handle
// line (`exportName` chooses the DFU methods' wording) and gives `fallback`.
template <typename Result, typename Work>
Result withDevice(const char* method, jlong handle, Result fallback, Work&& work, const char* exportName = nullptr)
{
    return guarded(kPrefix, method, fallback, [&]() -> Result {
        auto device = usbDevices().lease(handle);
        if (!device) {
            if (exportName != nullptr)
                logNoDfuDevice(exportName, handle);
            else
                logNoDevice(handle);
            return fallback;
        }
        return work(*device.get());
    });
}

jboolean toJava(bool b)
{
    return b ? JNI_TRUE : JNI_FALSE;
}

// A command of the report length (a shorter array is padded with zeros) as one OUT report.
jboolean writeWithTimeout(const char* method, JNIEnv* env, jlong handle, jcharArray command, long timeout)
{
    return withDevice<jboolean>(method, handle, JNI_FALSE, [&](USBDevice& d) -> jboolean {
        if (command == nullptr) {
            logNullArray(method);
            return JNI_FALSE;
        }
        std::vector<char> bytes = lowBytesOf(env, command, d.getReportLength());
        return toJava(d.write_Device(bytes.data(), static_cast<int>(bytes.size()), timeout));
    });
}
}

extern "C" {

JNIEXPORT jlong JNICALL NATIVE_USB(createNativeUsbInstance)(JNIEnv*, jobject)
{
    return guarded(kPrefix, "createNativeUsbInstance", jlong{0},
                   [] { return usbDevices().add(std::make_unique<USBDevice>()); });
}

JNIEXPORT void JNICALL NATIVE_USB(destroyNativeUsbInstance)(JNIEnv*, jobject, jlong handle)
{
    guarded(kPrefix, "destroyNativeUsbInstance", 0, [handle] {
        if (!usbDevices().retire(handle, [](USBDevice& d) {
                d.close_Device();
                return true;
            }))
            logNoDevice(handle);
        return 0;
    });
}

JNIEXPORT jshort JNICALL NATIVE_USB(getNativeUsbVid)(JNIEnv*, jobject, jlong handle)
{
    return withDevice<jshort>("getNativeUsbVid", handle, 0, [](USBDevice& d) { return d.getVID(); });
}

JNIEXPORT jshort JNICALL NATIVE_USB(getNativeUsbPid)(JNIEnv*, jobject, jlong handle)
{
    return withDevice<jshort>("getNativeUsbPid", handle, 0, [](USBDevice& d) { return d.getPID(); });
}

JNIEXPORT jint JNICALL NATIVE_USB(getNativeUsbxMax)(JNIEnv*, jobject, jlong handle)
{
    return withDevice<jint>("getNativeUsbxMax", handle, 0, [](USBDevice& d) { return d.GetMaxX(); });
}

JNIEXPORT jint JNICALL NATIVE_USB(readMaxX)(JNIEnv*, jobject, jlong handle)
{
    return withDevice<jint>("readMaxX", handle, 0, [](USBDevice& d) { return d.GetMaxX(); });
}

JNIEXPORT jint JNICALL NATIVE_USB(readMaxY)(JNIEnv*, jobject, jlong handle)
{
    return withDevice<jint>("readMaxY", handle, 0, [](USBDevice& d) { return d.GetMaxY(); });
}

JNIEXPORT jstring JNICALL NATIVE_USB(getNativeUsbSerialNumber)(JNIEnv* env, jobject, jlong handle)
{
    return withDevice<jstring>("getNativeUsbSerialNumber", handle, nullptr,
                               [env](USBDevice& d) { return newString(env, d.GetSerialNumber()); });
}

JNIEXPORT jstring JNICALL NATIVE_USB(getNativeUsbFirmwareVersion)(JNIEnv* env, jobject, jlong handle)
{
    return withDevice<jstring>("getNativeUsbFirmwareVersion", handle, nullptr,
                               [env](USBDevice& d) { return newString(env, d.GetFirmwareVersion()); });
}

JNIEXPORT jstring JNICALL NATIVE_USB(getNativeUsbProductName)(JNIEnv* env, jobject, jlong handle)
{
    return withDevice<jstring>("getNativeUsbProductName", handle, nullptr,
                               [env](USBDevice& d) { return newString(env, d.GetProductName()); });
}

JNIEXPORT jboolean JNICALL NATIVE_USB(connectNativeUsb)(JNIEnv* env, jobject, jlong handle, jstring devicePath)
{
    return withDevice<jboolean>("connectNativeUsb", handle, JNI_FALSE, [&](USBDevice& d) -> jboolean {
        ScopedUtfChars path(env, devicePath);
        if (path.c_str() == nullptr) {
            syslog(LOG_DEBUG, "NATIVESUPPORT: connectNativeUsb() called without a device path.");
            return JNI_FALSE;
        }
        return toJava(d.open_Device(path.c_str()));
    });
}

// The poll: the oldest report is copied out of the device's queue with the registry held
// (no lease: nothing else of the device is touched, and a retire cannot begin meanwhile),
// and the Java array is made once the registry is free again.
JNIEXPORT jbyteArray JNICALL NATIVE_USB(readNativeUsbState)(JNIEnv* env, jobject, jlong handle)
{
    return guarded(kPrefix, "readNativeUsbState", jbyteArray{nullptr}, [env, handle]() -> jbyteArray {
        // A report is at most kMaxReportLength bytes. Taking it never waits, so the device
        // is held by its registry shard for that step alone, not while Java gets the report.
        char report[USBDevice::kMaxReportLength];
        const int received = usbDevices().withHeld(handle, -1, [&](USBDevice& d) {
            return d.read_Device(report, static_cast<int>(sizeof report), 1);
        });
        if (received < 0)
            logNoDevice(handle);   // read_Device itself gives 0 or more
        if (received <= 0)
            return nullptr;   // the usual poll: nothing queued
        return newByteArray(env, report, received);
    });
}

JNIEXPORT jboolean JNICALL NATIVE_USB(writeCommand)(JNIEnv* env, jobject, jlong handle, jcharArray command)
{
    return writeWithTimeout("writeCommand", env, handle, command, 200);
}

JNIEXPORT jboolean JNICALL NATIVE_USB(writeFirmwareCommand)(JNIEnv* env, jobject, jlong handle, jcharArray command)
{
    return writeWithTimeout("writeFirmwareCommand", env, handle, command, 5000);
}

JNIEXPORT jboolean JNICALL NATIVE_USB(writeToControlTransfer)(JNIEnv* env, jobject, jlong handle, jcharArray data)
{
    return withDevice<jboolean>("writeToControlTransfer", handle, JNI_FALSE, [&](USBDevice& d) -> jboolean {
        if (data == nullptr) {
            logNullArray("writeToControlTransfer");
            return JNI_FALSE;
        }
        std::vector<char> bytes = lowBytesOf(env, data, d.getReportLength());
        return toJava(d.writeToControlTransfer(bytes.data(), static_cast<int>(bytes.size())));
    });
}

JNIEXPORT jboolean JNICALL NATIVE_USB(dfuDetach)(JNIEnv*, jobject, jlong handle)
{
    return withDevice<jboolean>(
        "dfuDetach", handle, JNI_FALSE, [](USBDevice& d) { return toJava(d.dfuDetach()); }, NATIVE_USB_NAME(dfuDetach));
}

// A firmware block goes out only whole: a null array, or a length its array does not
// hold, would put zeros into the device's flash. (The empty block that ends an image needs
// no array.)
JNIEXPORT jboolean JNICALL NATIVE_USB(dfuDownload)(JNIEnv* env, jobject, jlong handle, jint blockNumber,
                                                   jcharArray data, jint length)
{
    return withDevice<jboolean>(
        "dfuDownload", handle, JNI_FALSE,
        [&](USBDevice& d) -> jboolean {
            if (length < 0 || length > 65535) {
                syslog(LOG_DEBUG, "NATIVESUPPORT: DFU Download Failed.  Length (%d) does not fit a DFU block.", length);
                return JNI_FALSE;
            }
            if (data == nullptr && length > 0) {
                logNullArray("dfuDownload");
                return JNI_FALSE;
            }
            const jsize available = data != nullptr ? env->GetArrayLength(data) : 0;
            if (length > available) {
                syslog(LOG_DEBUG, "NATIVESUPPORT: dfuDownload() refused a length (%d) longer than its data (%d).  "
                                  "Nothing was sent.", length, available);
                return JNI_FALSE;
            }
            std::vector<char> bytes = lowBytesOf(env, data, length);
            return toJava(d.dfuDownload(blockNumber, bytes.data(), length));
        },
        NATIVE_USB_NAME(dfuDownload));
}

JNIEXPORT jbyteArray JNICALL NATIVE_USB(dfuGetStatus)(JNIEnv* env, jobject, jlong handle)
{
    syslog(LOG_DEBUG, "NATIVESUPPORT: Java_quorvantelix_dm_connections_usb_NativeUSB_dfuGetStatus.");
    return withDevice<jbyteArray>(
        "dfuGetStatus", handle, nullptr,
        [env](USBDevice& d) -> jbyteArray {
            char status[6] = {0, 0, 0, 0, 0, 0};
            if (d.dfuGetStatus(status) != 6)
                return nullptr;
            return newByteArray(env, status, 6);
        },
        NATIVE_USB_NAME(dfuGetStatus));
}

JNIEXPORT jboolean JNICALL NATIVE_USB(dfuClearStatus)(JNIEnv*, jobject, jlong handle)
{
    return withDevice<jboolean>(
        "dfuClearStatus", handle, JNI_FALSE, [](USBDevice& d) { return toJava(d.dfuClearStatus()); },
        NATIVE_USB_NAME(dfuClearStatus));
}

JNIEXPORT jbyteArray JNICALL NATIVE_USB(dfuGetState)(JNIEnv* env, jobject, jlong handle)
{
    return withDevice<jbyteArray>(
        "dfuGetState", handle, nullptr,
        [env](USBDevice& d) -> jbyteArray {
            char state = 0;
            if (d.dfuGetState(&state) != 1)
                return nullptr;
            return newByteArray(env, &state, 1);
        },
        NATIVE_USB_NAME(dfuGetState));
}

JNIEXPORT jboolean JNICALL NATIVE_USB(dfuAbort)(JNIEnv*, jobject, jlong handle)
{
    return withDevice<jboolean>(
        "dfuAbort", handle, JNI_FALSE, [](USBDevice& d) { return toJava(d.dfuAbort()); }, NATIVE_USB_NAME(dfuAbort));
}

JNIEXPORT jstring JNICALL NATIVE_USB(discoverUSBInputDevices)(JNIEnv* env, jobject)
{
    return guarded(kPrefix, "discoverUSBInputDevices", jstring{nullptr},
                   [env] { return newString(env, discoverDevices()); });
}

JNIEXPORT jshort JNICALL NATIVE_USB(getNativeUsbVidDirect)(JNIEnv* env, jobject, jstring devicePath)
{
    return guarded(kPrefix, "getNativeUsbVidDirect", jshort{0}, [&]() -> jshort {
        ScopedUtfChars path(env, devicePath);
        return path.c_str() != nullptr ? getVid(path.c_str()) : 0;
    });
}

JNIEXPORT jshort JNICALL NATIVE_USB(getNativeUsbPidDirect)(JNIEnv* env, jobject, jstring devicePath)
{
    return guarded(kPrefix, "getNativeUsbPidDirect", jshort{0}, [&]() -> jshort {
        ScopedUtfChars path(env, devicePath);
        return path.c_str() != nullptr ? getPid(path.c_str()) : 0;
    });
}

} // extern "C"
