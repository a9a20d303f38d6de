#pragma once
// Small pieces every JNI entry point uses: JNI resources held for one scope, the copies of
// Java arrays and strings, and the guard that keeps C++ exceptions out of the JVM.
#include <jni.h>
#include <syslog.h>

#include <algorithm>
#include <exception>
#include <string>
#include <vector>

namespace nativesupport {

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

// A JNI local reference, deleted when the scope ends.
template <typename T>
class ScopedLocalRef {
public:
    ScopedLocalRef(JNIEnv* env, T ref) : m_env(env), m_ref(ref) {}
    ~ScopedLocalRef()
    {
        if (m_ref != nullptr)
            m_env->DeleteLocalRef(m_ref);
    }
    ScopedLocalRef(const ScopedLocalRef&) = delete;
    ScopedLocalRef& operator=(const ScopedLocalRef&) = delete;

    T get() const { return m_ref; }

private:
    JNIEnv* m_env;
    T m_ref;
};

// Command bytes from a Java char array: the low 8 bits of each of the first `count`
// chars. Positions the array does not have (a shorter array) stay zero, so a short array
// is never read past its end. Callers refuse a null array before they get here.
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

// Runs the work of one entry point. A C++ exception (std::bad_alloc above all) must never
// unwind into the JVM: it is logged with the entry point's name and the entry point gives
// its failure result. `prefix` is the line prefix of the entry point's subsystem.
template <typename Result, typename Work>
Result guarded(const char* prefix, const char* method, Result failure, Work&& work) noexcept
{
    try {
        return work();
    } catch (const std::exception& e) {
        syslog(LOG_DEBUG, "%s%s() failed: %s", prefix, method, e.what());
    } catch (...) {
        syslog(LOG_DEBUG, "%s%s() failed: an unknown exception", prefix, method);
    }
    return failure;
}

} // namespace nativesupport
