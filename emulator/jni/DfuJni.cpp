// quorvantelix.emulator.UsbEmulator: DFU-capable devices, their re-enumeration
// and the firmware image they received.
#include <jni.h>

#include <chrono>
#include <stdexcept>

#include "Emulator.h"
#include "JniConvert.h"
#include "Models.h"

using nsemu::DfuResponder;
using nsemu::Emulator;
using nsemu::Millis;
using nsemu::jni::guarded;

namespace {

std::shared_ptr<DfuResponder> dfuOf(jlong device)
{
    auto responder = nsemu::models::dfuResponder(Emulator::instance().model(device));
    if (!responder)
        throw std::invalid_argument("device has no DFU mode");
    return responder;
}

}  // namespace

extern "C" {

JNIEXPORT jlong JNICALL Java_quorvantelix_emulator_UsbEmulator_waitForSuccessor(JNIEnv* env, jclass, jlong device,
                                                                           jlong timeoutMillis)
{
    return guarded<jlong>(env, 0, [&] { return Emulator::instance().waitForSuccessor(device, Millis(timeoutMillis)); });
}

JNIEXPORT jint JNICALL Java_quorvantelix_emulator_UsbEmulator_dfuState(JNIEnv* env, jclass, jlong device)
{
    return guarded<jint>(env, -1, [&] { return static_cast<jint>(dfuOf(device)->state()); });
}

JNIEXPORT void JNICALL Java_quorvantelix_emulator_UsbEmulator_setDfuPollTimeouts(JNIEnv* env, jclass, jlong device,
                                                                             jint downloadMillis,
                                                                             jint manifestMillis)
{
    guarded(env, 0, [&] {
        if (downloadMillis < 0 || manifestMillis < 0 || downloadMillis > 0xffffff || manifestMillis > 0xffffff)
            throw std::invalid_argument("a poll timeout is 0 to 0xffffff ms");
        dfuOf(device)->setPollTimeouts(Millis(downloadMillis), Millis(manifestMillis));
        return 0;
    });
}

JNIEXPORT void JNICALL Java_quorvantelix_emulator_UsbEmulator_failDfuDownload(JNIEnv* env, jclass, jlong device,
                                                                          jint nth, jint bStatus)
{
    guarded(env, 0, [&] {
        if (nth < 1 || bStatus < 1 || bStatus > 0xff)
            throw std::invalid_argument("need nth >= 1 and an error bStatus 1..255");
        dfuOf(device)->failDownload(nth, static_cast<std::uint8_t>(bStatus));
        return 0;
    });
}

JNIEXPORT void JNICALL Java_quorvantelix_emulator_UsbEmulator_setDfuStatusLength(JNIEnv* env, jclass, jlong device,
                                                                             jint length)
{
    guarded(env, 0, [&] {
        if (length < 0 || length > 6)
            throw std::invalid_argument("a status record has 0 to 6 bytes");
        dfuOf(device)->setStatusLength(length);
        return 0;
    });
}

JNIEXPORT jbyteArray JNICALL Java_quorvantelix_emulator_UsbEmulator_dfuReceived(JNIEnv* env, jclass, jlong device)
{
    return guarded<jbyteArray>(env, nullptr, [&] { return nsemu::jni::toJava(env, dfuOf(device)->image()->received()); });
}

JNIEXPORT jbyteArray JNICALL Java_quorvantelix_emulator_UsbEmulator_dfuManifestedImage(JNIEnv* env, jclass,
                                                                                   jlong device)
{
    return guarded<jbyteArray>(env, nullptr,
                               [&] { return nsemu::jni::toJava(env, dfuOf(device)->image()->manifested()); });
}

JNIEXPORT jint JNICALL Java_quorvantelix_emulator_UsbEmulator_dfuManifestations(JNIEnv* env, jclass, jlong device)
{
    return guarded<jint>(env, -1, [&] { return static_cast<jint>(dfuOf(device)->image()->manifestations()); });
}

}  // extern "C"
