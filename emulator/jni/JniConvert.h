// Conversions between Java and emulator types, and C++ exceptions to
// Java exceptions.
#pragma once

#include <jni.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace nsemu {
namespace jni {

std::vector<std::uint8_t> toBytes(JNIEnv* env, jbyteArray array);
jbyteArray toJava(JNIEnv* env, const std::vector<std::uint8_t>& bytes);
std::string toString(JNIEnv* env, jstring text);
jobjectArray toJava(JNIEnv* env, const std::vector<std::string>& lines);
jobjectArray toJava(JNIEnv* env, const std::vector<std::vector<std::uint8_t>>& arrays);

// Runs body; a thrown std::invalid_argument becomes IllegalArgumentException,
// anything else IllegalStateException. Returns fallback after a throw.
template <typename T, typename Body>
T guarded(JNIEnv* env, T fallback, Body body);
void throwJava(JNIEnv* env, const char* className, const char* message);

template <typename T, typename Body>
T guarded(JNIEnv* env, T fallback, Body body)
{
    try {
        return body();
    } catch (const std::invalid_argument& e) {
        throwJava(env, "java/lang/IllegalArgumentException", e.what());
    } catch (const std::exception& e) {
        throwJava(env, "java/lang/IllegalStateException", e.what());
    }
    return fallback;
}

}  // namespace jni
}  // namespace nsemu
