// quorvantelix.emulator.UsbEmulator: starting the emulator, plugging and
// unplugging devices.
#include <jni.h>

#include <stdexcept>

#include "Emulator.h"
#include "JniConvert.h"
#include "Models.h"

using nsemu::DeviceDescription;
using nsemu::Emulator;
using nsemu::jni::guarded;
using nsemu::jni::toString;

namespace {

std::uint16_t u16(jint value)
{
    if (value < 0 || value > 0xffff)
        throw std::invalid_argument("value out of range: " + std::to_string(value));
    return static_cast<std::uint16_t>(value);
}

std::uint8_t u8(jint value)
{
    if (value < 0 || value > 0xff)
        throw std::invalid_argument("value out of range: " + std::to_string(value));
    return static_cast<std::uint8_t>(value);
}

}  // namespace

extern "C" {

JNIEXPORT void JNICALL Java_quorvantelix_emulator_UsbEmulator_start(JNIEnv* env, jclass)
{
    guarded(env, 0, [] { Emulator::instance(); return 0; });
}

JNIEXPORT jstring JNICALL Java_quorvantelix_emulator_UsbEmulator_rootDir(JNIEnv* env, jclass)
{
    return guarded<jstring>(env, nullptr, [env] { return env->NewStringUTF(Emulator::instance().rootDir().c_str()); });
}

JNIEXPORT jobjectArray JNICALL Java_quorvantelix_emulator_UsbEmulator_models(JNIEnv* env, jclass)
{
    return nsemu::jni::toJava(env, nsemu::models::names());
}

JNIEXPORT jlong JNICALL Java_quorvantelix_emulator_UsbEmulator_plugModel(JNIEnv* env, jclass, jstring name, jint bus,
                                                                    jint address)
{
    return guarded<jlong>(env, 0, [&] {
        auto model = nsemu::models::byName(toString(env, name), bus, address);
        if (!model)
            throw std::invalid_argument("unknown model " + toString(env, name));
        return Emulator::instance().plug(*model);
    });
}

JNIEXPORT jlong JNICALL Java_quorvantelix_emulator_UsbEmulator_plugTablet(JNIEnv* env, jclass, jint vendorId,
                                                                     jint productId, jint bus, jint address)
{
    return guarded<jlong>(env, 0, [&] {
        return Emulator::instance().plug(nsemu::models::tablet(u16(vendorId), u16(productId), bus, address));
    });
}

JNIEXPORT jlong JNICALL Java_quorvantelix_emulator_UsbEmulator_plug(
    JNIEnv* env, jclass, jint bus, jint address, jint vendorId, jint productId, jint deviceClass,
    jint deviceSubClass, jint bcdDevice, jbyteArray reportDescriptor, jint inPacketSize, jint outEndpoint,
    jint outPacketSize, jstring manufacturer, jstring product, jstring serial, jstring interfaceString,
    jboolean kernelDriver)
{
    return guarded<jlong>(env, 0, [&] {
        DeviceDescription s;
        s.busNumber = bus;
        s.deviceAddress = address;
        s.idVendor = u16(vendorId);
        s.idProduct = u16(productId);
        s.bDeviceClass = u8(deviceClass);
        s.bDeviceSubClass = u8(deviceSubClass);
        s.bcdDevice = u16(bcdDevice);
        s.reportDescriptor = nsemu::jni::toBytes(env, reportDescriptor);
        s.inPacketSize = u16(inPacketSize);
        s.outEndpoint = u8(outEndpoint);
        s.outPacketSize = u16(outPacketSize);
        s.manufacturer = toString(env, manufacturer);
        s.product = toString(env, product);
        s.serialNumber = toString(env, serial);
        s.interfaceString = toString(env, interfaceString);
        s.kernelDriverBound = kernelDriver;
        return Emulator::instance().plug(s);
    });
}

JNIEXPORT void JNICALL Java_quorvantelix_emulator_UsbEmulator_unplug(JNIEnv* env, jclass, jlong device)
{
    guarded(env, 0, [&] { Emulator::instance().unplug(device); return 0; });
}

JNIEXPORT void JNICALL Java_quorvantelix_emulator_UsbEmulator_unplugAll(JNIEnv* env, jclass)
{
    guarded(env, 0, [] { Emulator::instance().unplugAll(); return 0; });
}

JNIEXPORT jboolean JNICALL Java_quorvantelix_emulator_UsbEmulator_isPlugged(JNIEnv* env, jclass, jlong device)
{
    return guarded<jboolean>(env, JNI_FALSE, [&] { return Emulator::instance().isPlugged(device); });
}

JNIEXPORT jstring JNICALL Java_quorvantelix_emulator_UsbEmulator_path(JNIEnv* env, jclass, jlong device)
{
    return guarded<jstring>(env, nullptr, [&] { return env->NewStringUTF(Emulator::instance().path(device).c_str()); });
}

JNIEXPORT void JNICALL Java_quorvantelix_emulator_UsbEmulator_feedInput(JNIEnv* env, jclass, jlong device,
                                                                   jbyteArray report)
{
    guarded(env, 0, [&] { Emulator::instance().feedInput(device, nsemu::jni::toBytes(env, report)); return 0; });
}

JNIEXPORT void JNICALL Java_quorvantelix_emulator_UsbEmulator_answerEmpty(JNIEnv* env, jclass, jlong device,
                                                                     jboolean on)
{
    guarded(env, 0, [&] { Emulator::instance().answerEmpty(device, on); return 0; });
}

}  // extern "C"
