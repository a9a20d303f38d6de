#pragma once
#include <jni.h>

#include <algorithm>
#include <string>
#include <vector>

// The modified UTF-8 characters of a Java string, held for one scope.
class ScopedUtfChars {
public:
    ScopedUtfChars(JNIEnv* env, jstring s)
        : m_env(env), m_string(s), m_chars(s != nullptr ? env->GetStringUTFChars(s, nullptr) : nullptr) {}
    ~ScopedUtfChars()
    {
        if (m_chars != nullptr)
            m_env->ReleaseStringUTFChars(m_string, m_chars);
    }
    ScopedUtfChars(const ScopedUtfChars&) = delete;
    ScopedUtfChars& operator=(const ScopedUtfChars&) = delete;

    const char* c_str() const { return m_chars; }

private:
    JNIEnv* m_env;
    jstring m_string;
    const char* m_chars;
};

// Command bytes from a Java char array: the low 8 bits of each of the first `count`
// chars. Positions the array does not have (a shorter or null array) stay zero, so a
// short array is never read past its end.
inline std::vector<char> lowBytesOf(JNIEnv* env, jcharArray array, int count)
{
    std::vector<char> bytes(static_cast<size_t>(std::max(count, 0)), 0);
    if (array == nullptr || count <= 0)
        return bytes;
    const jsize available = std::min<jsize>(env->GetArrayLength(array), count);
    if (available <= 0)
        return bytes;
    std::vector<jchar> chars(static_cast<size_t>(available));
    env->GetCharArrayRegion(array, 0, available, chars.data());
    if (env->ExceptionCheck()) {
        env->ExceptionClear();
        return bytes;
    }
    for (jsize i = 0; i < available; ++i)
        bytes[static_cast<size_t>(i)] = static_cast<char>(chars[static_cast<size_t>(i)] & 0xFF);
    return bytes;
}

// A new Java byte array holding `length` bytes, or null when the VM could not make one.
inline jbyteArray newByteArray(JNIEnv* env, const char* data, int length)
{
    jbyteArray array = env->NewByteArray(length);
    if (array == nullptr)
        return nullptr;
    env->SetByteArrayRegion(array, 0, length, reinterpret_cast<const jbyte*>(data));
    return array;
}

inline jstring newString(JNIEnv* env, const std::string& s)
{
    return env->NewStringUTF(s.c_str());
}
