// quorvantelix.emulator.UsbEmulator: injected faults and model settings.
#include <jni.h>

#include <stdexcept>

#include "Emulator.h"
#include "JniConvert.h"
#include "Models.h"

using nsemu::Emulator;
using nsemu::RequestMatch;
using nsemu::jni::guarded;

namespace {

RequestMatch match(jint bmRequestType, jint bRequest, jint wValue)
{
    RequestMatch m;
    m.bmRequestType = bmRequestType;
    m.bRequest = bRequest;
    m.wValue = wValue;
    return m;
}

std::uint8_t endpointOf(jint endpoint)
{
    if (endpoint <= 0 || endpoint > 0xff)
        throw std::invalid_argument("bad endpoint " + std::to_string(endpoint));
    return static_cast<std::uint8_t>(endpoint);
}

}  // namespace

extern "C" {

JNIEXPORT void JNICALL Java_quorvantelix_emulator_UsbEmulator_stallRequest(JNIEnv* env, jclass, jlong device,
                                                                      jint type, jint request, jint value,
                                                                      jint times)
{
    guarded(env, 0, [&] { Emulator::instance().stallRequest(device, match(type, request, value), times); return 0; });
}

JNIEXPORT void JNICALL Java_quorvantelix_emulator_UsbEmulator_failRequest(JNIEnv* env, jclass, jlong device, jint type,
                                                                     jint request, jint value, jint status,
                                                                     jint times)
{
    guarded(env, 0, [&] {
        Emulator::instance().failRequest(device, match(type, request, value), status, times);
        return 0;
    });
}

JNIEXPORT void JNICALL Java_quorvantelix_emulator_UsbEmulator_hangRequest(JNIEnv* env, jclass, jlong device, jint type,
                                                                     jint request, jint value, jint times)
{
    guarded(env, 0, [&] { Emulator::instance().hangRequest(device, match(type, request, value), times); return 0; });
}

JNIEXPORT void JNICALL Java_quorvantelix_emulator_UsbEmulator_failEndpoint(JNIEnv* env, jclass, jlong device,
                                                                      jint endpoint, jint status, jint times)
{
    guarded(env, 0, [&] { Emulator::instance().failEndpoint(device, endpointOf(endpoint), status, times); return 0; });
}

JNIEXPORT void JNICALL Java_quorvantelix_emulator_UsbEmulator_hangEndpoint(JNIEnv* env, jclass, jlong device,
                                                                      jint endpoint, jint times)
{
    guarded(env, 0, [&] { Emulator::instance().hangEndpoint(device, endpointOf(endpoint), times); return 0; });
}

JNIEXPORT void JNICALL Java_quorvantelix_emulator_UsbEmulator_rejectEndpoint(JNIEnv* env, jclass, jlong device,
                                                                        jint endpoint, jint error, jint times)
{
    guarded(env, 0, [&] { Emulator::instance().rejectEndpoint(device, endpointOf(endpoint), error, times); return 0; });
}

JNIEXPORT void JNICALL Java_quorvantelix_emulator_UsbEmulator_unplugOnRequest(JNIEnv* env, jclass, jlong device,
                                                                         jint type, jint request, jint value)
{
    guarded(env, 0, [&] { Emulator::instance().unplugOnRequest(device, match(type, request, value)); return 0; });
}

JNIEXPORT void JNICALL Java_quorvantelix_emulator_UsbEmulator_unplugOnEndpoint(JNIEnv* env, jclass, jlong device,
                                                                          jint endpoint)
{
    guarded(env, 0, [&] { Emulator::instance().unplugOnEndpoint(device, endpointOf(endpoint)); return 0; });
}

JNIEXPORT void JNICALL Java_quorvantelix_emulator_UsbEmulator_clearFaults(JNIEnv* env, jclass, jlong device)
{
    guarded(env, 0, [&] { Emulator::instance().clearFaults(device); return 0; });
}

JNIEXPORT void JNICALL Java_quorvantelix_emulator_UsbEmulator_setFeatureAnswer(JNIEnv* env, jclass, jlong device,
                                                                          jbyteArray command, jint value)
{
    guarded(env, 0, [&] {
        auto responder = nsemu::models::featureResponder(Emulator::instance().model(device));
        const auto bytes = nsemu::jni::toBytes(env, command);
        if (!responder)
            throw std::invalid_argument("device has no feature report responder");
        if (bytes.size() != 3 || value < 0 || value > 0xffff)
            throw std::invalid_argument("need a 3-byte command and a 16-bit value");
        responder->setAnswer({bytes[0], bytes[1], bytes[2]}, static_cast<std::uint16_t>(value));
        return 0;
    });
}

}  // extern "C"
