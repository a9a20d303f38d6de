// Test-side stand-in for the VM's JNIEnv, just enough for the copying helpers of
// src/usb/JniUtil.h: Java char arrays and strings made from fuzz input, the VM's bounds
// check and pending exception, and a count of UTF chars handed out and not yet released.
#pragma once
#include <jni.h>

#include <memory>
#include <string>
#include <vector>

class FakeJniEnv {
public:
    FakeJniEnv();
    FakeJniEnv(const FakeJniEnv&) = delete;
    FakeJniEnv& operator=(const FakeJniEnv&) = delete;

    JNIEnv* env() { return &m_env; }

    // A char array living as long as this object.
    jcharArray charArray(std::vector<jchar> chars);
    // A string; with outOfMemory, GetStringUTFChars fails as the VM does when it cannot copy.
    jstring string(std::string modifiedUtf8, bool outOfMemory);

    bool exceptionPending() const { return m_exceptionPending; }
    int utfCharsHeld() const { return m_utfCharsHeld; }

private:
    struct CharArray {
        std::vector<jchar> chars;
    };
    struct String {
        std::string utf;
        bool outOfMemory;
    };

    static FakeJniEnv& self(JNIEnv* env);
    static jsize JNICALL getArrayLength(JNIEnv* env, jarray array);
    static void JNICALL getCharArrayRegion(JNIEnv* env, jcharArray array, jsize start, jsize length, jchar* buffer);
    static jboolean JNICALL exceptionCheck(JNIEnv* env);
    static void JNICALL exceptionClear(JNIEnv* env);
    static const char* JNICALL getStringUTFChars(JNIEnv* env, jstring string, jboolean* isCopy);
    static void JNICALL releaseStringUTFChars(JNIEnv* env, jstring string, const char* chars);

    JNIEnv m_env;   // first, so that a JNIEnv* leads back to this object
    JNINativeInterface_ m_functions;
    std::vector<std::unique_ptr<CharArray>> m_arrays;
    std::vector<std::unique_ptr<String>> m_strings;
    bool m_exceptionPending;
    int m_utfCharsHeld;
};
