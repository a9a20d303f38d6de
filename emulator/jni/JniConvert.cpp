#include "JniConvert.h"

#include <stdexcept>

namespace nsemu {
namespace jni {

std::vector<std::uint8_t> toBytes(JNIEnv* env, jbyteArray array)
{
    if (!array)
        return {};
    std::vector<std::uint8_t> bytes(env->GetArrayLength(array));
    env->GetByteArrayRegion(array, 0, static_cast<jsize>(bytes.size()), reinterpret_cast<jbyte*>(bytes.data()));
    return bytes;
}

jbyteArray toJava(JNIEnv* env, const std::vector<std::uint8_t>& bytes)
{
    jbyteArray array = env->NewByteArray(static_cast<jsize>(bytes.size()));
    env->SetByteArrayRegion(array, 0, static_cast<jsize>(bytes.size()), reinterpret_cast<const jbyte*>(bytes.data()));
    return array;
}

std::string toString(JNIEnv* env, jstring text)
{
    if (!text)
        return {};
    const char* chars = env->GetStringUTFChars(text, nullptr);
    std::string result = chars;
    env->ReleaseStringUTFChars(text, chars);
    return result;
}

jobjectArray toJava(JNIEnv* env, const std::vector<std::string>& lines)
{
    jobjectArray array = env->NewObjectArray(static_cast<jsize>(lines.size()), env->FindClass("java/lang/String"), nullptr);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        jstring line = env->NewStringUTF(lines[i].c_str());
        env->SetObjectArrayElement(array, static_cast<jsize>(i), line);
        env->DeleteLocalRef(line);
    }
    return array;
}

jobjectArray toJava(JNIEnv* env, const std::vector<std::vector<std::uint8_t>>& arrays)
{
    jobjectArray array = env->NewObjectArray(static_cast<jsize>(arrays.size()), env->FindClass("[B"), nullptr);
    for (std::size_t i = 0; i < arrays.size(); ++i) {
        jbyteArray element = toJava(env, arrays[i]);
        env->SetObjectArrayElement(array, static_cast<jsize>(i), element);
        env->DeleteLocalRef(element);
    }
    return array;
}

void throwJava(JNIEnv* env, const char* className, const char* message)
{
    if (env->ExceptionCheck())
        return;
    env->ThrowNew(env->FindClass(className), message);
}

}  // namespace jni
}  // namespace nsemu
