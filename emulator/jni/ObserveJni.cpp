// quorvantelix.emulator.UsbEmulator: what devices received, and waits on
// their state.
#include <jni.h>

#include <algorithm>

#include "Emulator.h"
#include "JniConvert.h"

using nsemu::DeviceStatus;
using nsemu::Emulator;
using nsemu::Millis;
using nsemu::Record;
using nsemu::jni::guarded;

namespace {

template <typename Pred>
jboolean waitFor(JNIEnv* env, jlong device, jlong timeoutMillis, Pred pred)
{
    return guarded<jboolean>(env, JNI_FALSE, [&] {
        return Emulator::instance().waitFor(device, pred, Millis(timeoutMillis));
    });
}

}  // namespace

extern "C" {

JNIEXPORT jobjectArray JNICALL Java_quorvantelix_emulator_UsbEmulator_records(JNIEnv* env, jclass, jlong device)
{
    return guarded<jobjectArray>(env, nullptr, [&] {
        std::vector<std::string> lines;
        for (const Record& r : Emulator::instance().records(device))
            lines.push_back(nsemu::describe(r));
        return nsemu::jni::toJava(env, lines);
    });
}

JNIEXPORT jobjectArray JNICALL Java_quorvantelix_emulator_UsbEmulator_outReports(JNIEnv* env, jclass, jlong device)
{
    return guarded<jobjectArray>(env, nullptr, [&] {
        std::vector<std::vector<std::uint8_t>> reports;
        for (const Record& r : Emulator::instance().records(device)) {
            if (r.kind == Record::Kind::InterruptOut && r.outcome == nsemu::Outcome::Completed)
                reports.push_back(r.data);
        }
        return nsemu::jni::toJava(env, reports);
    });
}

JNIEXPORT jboolean JNICALL Java_quorvantelix_emulator_UsbEmulator_kernelDriverBound(JNIEnv* env, jclass, jlong device)
{
    return guarded<jboolean>(env, JNI_FALSE, [&] { return Emulator::instance().status(device).kernelDriverBound; });
}

JNIEXPORT jboolean JNICALL Java_quorvantelix_emulator_UsbEmulator_waitForPendingIn(JNIEnv* env, jclass, jlong device,
                                                                              jlong timeoutMillis)
{
    return waitFor(env, device, timeoutMillis, [](const DeviceStatus& s) { return s.pendingIn > 0; });
}

// The host has reaped every fed report and waits again with `pendingIn` IN transfers.
JNIEXPORT jboolean JNICALL Java_quorvantelix_emulator_UsbEmulator_waitForInputTaken(JNIEnv* env, jclass, jlong device,
                                                                               jint pendingIn, jlong timeoutMillis)
{
    const std::size_t count = static_cast<std::size_t>(std::max<jint>(pendingIn, 1));
    return waitFor(env, device, timeoutMillis, [count](const DeviceStatus& s) {
        return s.queuedInput == 0 && s.unreaped == 0 && s.pendingIn >= count;
    });
}

JNIEXPORT jboolean JNICALL Java_quorvantelix_emulator_UsbEmulator_waitForRecords(JNIEnv* env, jclass, jlong device,
                                                                            jint count, jlong timeoutMillis)
{
    const std::size_t n = count < 0 ? 0 : static_cast<std::size_t>(count);
    return waitFor(env, device, timeoutMillis, [n](const DeviceStatus& s) { return s.records >= n; });
}

JNIEXPORT jboolean JNICALL Java_quorvantelix_emulator_UsbEmulator_waitForDiscards(JNIEnv* env, jclass, jlong device,
                                                                             jint count, jlong timeoutMillis)
{
    const std::size_t n = count < 0 ? 0 : static_cast<std::size_t>(count);
    return waitFor(env, device, timeoutMillis, [n](const DeviceStatus& s) { return s.discards >= n; });
}

JNIEXPORT jboolean JNICALL Java_quorvantelix_emulator_UsbEmulator_waitForHung(JNIEnv* env, jclass, jlong device,
                                                                         jint count, jlong timeoutMillis)
{
    const std::size_t n = count < 0 ? 0 : static_cast<std::size_t>(count);
    return waitFor(env, device, timeoutMillis, [n](const DeviceStatus& s) { return s.hung >= n; });
}

JNIEXPORT jboolean JNICALL Java_quorvantelix_emulator_UsbEmulator_waitForClients(JNIEnv* env, jclass, jlong device,
                                                                            jint count, jlong timeoutMillis)
{
    const std::size_t n = count < 0 ? 0 : static_cast<std::size_t>(count);
    return waitFor(env, device, timeoutMillis, [n](const DeviceStatus& s) { return s.clients == n; });
}

JNIEXPORT jboolean JNICALL Java_quorvantelix_emulator_UsbEmulator_waitForClaimed(JNIEnv* env, jclass, jlong device,
                                                                            jboolean claimed, jlong timeoutMillis)
{
    const bool wanted = claimed;
    return waitFor(env, device, timeoutMillis, [wanted](const DeviceStatus& s) { return s.claimed == wanted; });
}

JNIEXPORT jboolean JNICALL Java_quorvantelix_emulator_UsbEmulator_waitForKernelDriver(JNIEnv* env, jclass, jlong device,
                                                                                 jboolean bound, jlong timeoutMillis)
{
    const bool wanted = bound;
    return waitFor(env, device, timeoutMillis,
                   [wanted](const DeviceStatus& s) { return s.kernelDriverBound == wanted; });
}

JNIEXPORT jboolean JNICALL Java_quorvantelix_emulator_UsbEmulator_waitForEmptyAnswers(JNIEnv* env, jclass,
                                                                                 jlong device, jint count,
                                                                                 jlong timeoutMillis)
{
    const std::size_t n = count < 0 ? 0 : static_cast<std::size_t>(count);
    return waitFor(env, device, timeoutMillis, [n](const DeviceStatus& s) { return s.emptyAnswers >= n; });
}

}  // extern "C"
