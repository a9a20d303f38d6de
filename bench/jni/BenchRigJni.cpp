// JNI side of quorvantelix.bench.BenchRig: the emulator, the shared report feeder, the
// figure printing and the process readings the Java benchmarks need. Linked with its
// own copy of the emulator, so the JVM loads this instead of the test support library.
#include <hidapi/hidapi.h>
#include <jni.h>
#include <unistd.h>

#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "Emulator.h"
#include "Figures.h"
#include "ReportFeeder.h"
#include "StampedReport.h"
#include "ThreadCpu.h"

#define BENCH_RIG(name) Java_quorvantelix_bench_BenchRig_##name

namespace {
std::mutex g_feedersMutex;
std::map<nsemu::DeviceId, std::shared_ptr<nsbench::ReportFeeder>> g_feeders;

std::shared_ptr<nsbench::ReportFeeder> feederOf(jlong device)
{
    std::lock_guard<std::mutex> lock(g_feedersMutex);
    auto it = g_feeders.find(device);
    return it != g_feeders.end() ? it->second : nullptr;
}

std::string utf(JNIEnv* env, jstring text)
{
    const char* chars = env->GetStringUTFChars(text, nullptr);
    std::string s = chars != nullptr ? chars : "";
    if (chars != nullptr)
        env->ReleaseStringUTFChars(text, chars);
    return s;
}
}

extern "C" {

// Starts the emulator and names the threads it started ("nsemu"), so that profiles and
// thread readings can tell its work from the JVM's.
JNIEXPORT void JNICALL BENCH_RIG(start)(JNIEnv*, jclass)
{
    const std::set<int> before = nsbench::threadIds();
    nsemu::Emulator::instance();
    for (int id : nsbench::threadIds()) {
        if (before.count(id) == 0)
            nsbench::nameThread(id, "nsemu");
    }
}

JNIEXPORT jlong JNICALL BENCH_RIG(plugTablet)(JNIEnv*, jclass, jint bus, jint address, jint packetSize)
{
    return nsemu::Emulator::instance().plug(nsbench::benchTablet(bus, address, packetSize));
}

JNIEXPORT jstring JNICALL BENCH_RIG(path)(JNIEnv* env, jclass, jlong device)
{
    return env->NewStringUTF(nsemu::Emulator::instance().path(device).c_str());
}

JNIEXPORT void JNICALL BENCH_RIG(unplugAll)(JNIEnv*, jclass)
{
    nsemu::Emulator::instance().unplugAll();
}

JNIEXPORT jboolean JNICALL BENCH_RIG(waitForPendingIn)(JNIEnv*, jclass, jlong device, jlong timeoutMillis)
{
    return nsemu::Emulator::instance().waitForPendingIn(device, nsemu::Millis(timeoutMillis));
}

// True once the host has taken every fed report, reaped every completed transfer and
// waits with a new IN transfer.
JNIEXPORT jboolean JNICALL BENCH_RIG(waitForAllTaken)(JNIEnv*, jclass, jlong device, jlong timeoutMillis)
{
    return nsemu::Emulator::instance().waitFor(
        device,
        [](const nsemu::DeviceStatus& s) { return s.queuedInput == 0 && s.unreaped == 0 && s.pendingIn > 0; },
        nsemu::Millis(timeoutMillis));
}

// `taken`: a direct buffer whose first 8 bytes the Java reader keeps at the number of
// reports it has taken (written with release order).
JNIEXPORT void JNICALL BENCH_RIG(attachFeeder)(JNIEnv* env, jclass, jlong device, jobject taken)
{
    auto* counter = static_cast<std::uint64_t*>(env->GetDirectBufferAddress(taken));
    if (counter == nullptr)
        return;
    auto feeder = std::make_shared<nsbench::ReportFeeder>(
        device, [counter] { return __atomic_load_n(counter, __ATOMIC_ACQUIRE); });
    std::lock_guard<std::mutex> lock(g_feedersMutex);
    g_feeders[device] = feeder;
}

JNIEXPORT jboolean JNICALL BENCH_RIG(feedStream)(JNIEnv*, jclass, jlong device, jlong count, jlong window)
{
    auto feeder = feederOf(device);
    return feeder && feeder->stream(static_cast<std::uint64_t>(count), static_cast<std::uint64_t>(window));
}

JNIEXPORT jboolean JNICALL BENCH_RIG(feedPingPong)(JNIEnv*, jclass, jlong device, jlong count)
{
    auto feeder = feederOf(device);
    return feeder && feeder->pingPong(static_cast<std::uint64_t>(count));
}

// Reports fed to the device that no IN transfer of the host has taken yet.
JNIEXPORT jlong JNICALL BENCH_RIG(queuedInput)(JNIEnv*, jclass, jlong device)
{
    return static_cast<jlong>(nsemu::Emulator::instance().status(device).queuedInput);
}

JNIEXPORT jlong JNICALL BENCH_RIG(fed)(JNIEnv*, jclass, jlong device)
{
    auto feeder = feederOf(device);
    return feeder ? static_cast<jlong>(feeder->fed()) : 0;
}

// Feeds reports without waiting for anyone to take them (the host still has to).
JNIEXPORT void JNICALL BENCH_RIG(feedUnread)(JNIEnv*, jclass, jlong device, jlong count, jint length)
{
    const std::vector<std::uint8_t> report(static_cast<std::size_t>(length), 0x02);
    for (jlong i = 0; i < count; ++i)
        nsemu::Emulator::instance().feedInput(device, report);
}

JNIEXPORT void JNICALL BENCH_RIG(figure)(JNIEnv* env, jclass, jstring key, jdouble value, jstring unit,
                                         jint decimals)
{
    nsbench::printFigure(utf(env, key), value, utf(env, unit), decimals);
}

JNIEXPORT void JNICALL BENCH_RIG(note)(JNIEnv* env, jclass, jstring text)
{
    nsbench::printNote(utf(env, text));
}

JNIEXPORT void JNICALL BENCH_RIG(latencies)(JNIEnv* env, jclass, jstring prefix, jlongArray nanos, jint count)
{
    std::vector<jlong> values(static_cast<std::size_t>(count));
    env->GetLongArrayRegion(nanos, 0, count, values.data());
    nsbench::printLatencies(utf(env, prefix), std::vector<std::uint64_t>(values.begin(), values.end()));
}

// Every thread of the process as (id, nanoseconds on a processor, context switches).
JNIEXPORT jlongArray JNICALL BENCH_RIG(threadUsage)(JNIEnv* env, jclass)
{
    std::vector<jlong> flat;
    for (const auto& [id, usage] : nsbench::threadUsage()) {
        flat.push_back(id);
        flat.push_back(static_cast<jlong>(usage.runNanos));
        flat.push_back(static_cast<jlong>(usage.switches));
    }
    jlongArray result = env->NewLongArray(static_cast<jsize>(flat.size()));
    if (result != nullptr)
        env->SetLongArrayRegion(result, 0, static_cast<jsize>(flat.size()), flat.data());
    return result;
}

// The floor of a native call: the shape of readNativeUsbState, doing nothing.
JNIEXPORT jbyteArray JNICALL BENCH_RIG(emptyCall)(JNIEnv*, jobject, jlong)
{
    return nullptr;
}

// The floor of a poll that carries a report: the shape of readNativeUsbState, making a
// Java array of the report length and filling it from a native buffer, nothing else.
JNIEXPORT jbyteArray JNICALL BENCH_RIG(copyCall)(JNIEnv* env, jobject, jlong)
{
    static const std::vector<std::uint8_t> report = nsbench::stampedReport(0, 0);
    jbyteArray array = env->NewByteArray(nsbench::kReportLength);
    if (array != nullptr)
        env->SetByteArrayRegion(array, 0, nsbench::kReportLength, reinterpret_cast<const jbyte*>(report.data()));
    return array;
}

// The calling thread's kernel id, as /proc/self/task names it.
JNIEXPORT jlong JNICALL BENCH_RIG(threadId)(JNIEnv*, jclass)
{
    return static_cast<jlong>(gettid());
}

// Feeds every device `count` reports, each device at `intervalMicros` apart and the devices
// spread evenly over the interval, as tablets with clocks of their own would send them.
// Returns how many each device was fed. `emptyBlock`: see nsbench::feedPaced.
JNIEXPORT jlongArray JNICALL BENCH_RIG(feedPaced)(JNIEnv* env, jclass, jlongArray devices, jlong count,
                                                  jlong intervalMicros, jlong emptyBlock)
{
    const jsize n = env->GetArrayLength(devices);
    std::vector<jlong> ids(static_cast<std::size_t>(n));
    env->GetLongArrayRegion(devices, 0, n, ids.data());
    std::vector<nsemu::DeviceId> deviceIds(ids.begin(), ids.end());
    const std::vector<std::uint64_t> fed = nsbench::feedPaced(deviceIds, static_cast<std::uint64_t>(count),
                                                              std::chrono::microseconds(intervalMicros),
                                                              static_cast<std::uint64_t>(emptyBlock));
    std::vector<jlong> result(fed.begin(), fed.end());
    jlongArray array = env->NewLongArray(n);
    if (array != nullptr)
        env->SetLongArrayRegion(array, 0, n, result.data());
    return array;
}

// The peer of discovery: hidapi's hid_enumerate of every HID device (libusb backend, its
// context made once, as hidapi keeps it), returning how many interfaces it listed.
JNIEXPORT jint JNICALL BENCH_RIG(hidEnumerate)(JNIEnv*, jclass)
{
    static const bool started = hid_init() == 0;
    if (!started)
        return -1;
    int count = 0;
    hid_device_info* list = hid_enumerate(0, 0);
    for (hid_device_info* d = list; d != nullptr; d = d->next)
        ++count;
    hid_free_enumeration(list);
    return count;
}

}  // extern "C"
