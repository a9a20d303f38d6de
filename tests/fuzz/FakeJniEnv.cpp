#include "FakeJniEnv.h"

#include <cstdlib>
#include <cstring>

FakeJniEnv::FakeJniEnv() : m_env(), m_functions(), m_exceptionPending(false), m_utfCharsHeld(0)
{
    // Every function the helpers have no business calling stays null and crashes the run.
    std::memset(&m_functions, 0, sizeof m_functions);
    m_functions.GetArrayLength = &FakeJniEnv::getArrayLength;
    m_functions.GetCharArrayRegion = &FakeJniEnv::getCharArrayRegion;
    m_functions.ExceptionCheck = &FakeJniEnv::exceptionCheck;
    m_functions.ExceptionClear = &FakeJniEnv::exceptionClear;
    m_functions.GetStringUTFChars = &FakeJniEnv::getStringUTFChars;
    m_functions.ReleaseStringUTFChars = &FakeJniEnv::releaseStringUTFChars;
    m_env.functions = &m_functions;
}

FakeJniEnv& FakeJniEnv::self(JNIEnv* env)
{
    return *reinterpret_cast<FakeJniEnv*>(env);
}

jcharArray FakeJniEnv::charArray(std::vector<jchar> chars)
{
    m_arrays.push_back(std::make_unique<CharArray>(CharArray{std::move(chars)}));
    return reinterpret_cast<jcharArray>(m_arrays.back().get());
}

jstring FakeJniEnv::string(std::string modifiedUtf8, bool outOfMemory)
{
    m_strings.push_back(std::make_unique<String>(String{std::move(modifiedUtf8), outOfMemory}));
    return reinterpret_cast<jstring>(m_strings.back().get());
}

jsize JNICALL FakeJniEnv::getArrayLength(JNIEnv*, jarray array)
{
    return static_cast<jsize>(reinterpret_cast<CharArray*>(array)->chars.size());
}

// As the VM does: a region outside the array copies nothing and leaves an
// ArrayIndexOutOfBoundsException pending.
void JNICALL FakeJniEnv::getCharArrayRegion(JNIEnv* env, jcharArray array, jsize start, jsize length, jchar* buffer)
{
    FakeJniEnv& fake = self(env);
    if (fake.m_exceptionPending)
        std::abort();   // JNI forbids this call with an exception pending
    const std::vector<jchar>& chars = reinterpret_cast<CharArray*>(array)->chars;
    if (start < 0 || length < 0 || static_cast<size_t>(start) + static_cast<size_t>(length) > chars.size()) {
        fake.m_exceptionPending = true;
        return;
    }
    if (length > 0)
        std::memcpy(buffer, chars.data() + start, static_cast<size_t>(length) * sizeof(jchar));
}

jboolean JNICALL FakeJniEnv::exceptionCheck(JNIEnv* env)
{
    return self(env).m_exceptionPending ? JNI_TRUE : JNI_FALSE;
}

void JNICALL FakeJniEnv::exceptionClear(JNIEnv* env)
{
    self(env).m_exceptionPending = false;
}

// A malloc'ed copy, as a VM hands out, so that a read past its terminator or a use after
// release is caught by AddressSanitizer.
const char* JNICALL FakeJniEnv::getStringUTFChars(JNIEnv* env, jstring string, jboolean* isCopy)
{
    FakeJniEnv& fake = self(env);
    const String& s = *reinterpret_cast<String*>(string);
    if (s.outOfMemory) {
        fake.m_exceptionPending = true;
        return nullptr;
    }
    char* copy = static_cast<char*>(std::malloc(s.utf.size() + 1));
    std::memcpy(copy, s.utf.c_str(), s.utf.size() + 1);
    if (isCopy != nullptr)
        *isCopy = JNI_TRUE;
    ++fake.m_utfCharsHeld;
    return copy;
}

void JNICALL FakeJniEnv::releaseStringUTFChars(JNIEnv* env, jstring, const char* chars)
{
    --self(env).m_utfCharsHeld;
    std::free(const_cast<char*>(chars));
}
