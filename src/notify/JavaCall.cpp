#include "JavaCall.h"

#include "JniUtil.h"

#include <syslog.h>

namespace nativesupport {

void clearJavaException(JNIEnv* env, const char* what)
{
    if (!env->ExceptionCheck())
        return;
    ScopedLocalRef<jthrowable> thrown(env, env->ExceptionOccurred());
    env->ExceptionClear();
    // Throwable.toString(): the exception's class name and its message.
    ScopedLocalRef<jclass> throwable(env, env->FindClass("java/lang/Throwable"));
    jmethodID toString = throwable.get() != nullptr
                             ? env->GetMethodID(throwable.get(), "toString", "()Ljava/lang/String;")
                             : nullptr;
    ScopedLocalRef<jstring> text(env, toString != nullptr
                                          ? static_cast<jstring>(env->CallObjectMethod(thrown.get(), toString))
                                          : nullptr);
    env->ExceptionClear();   // whatever the description itself raised
    ScopedUtfChars chars(env, text.get());
    syslog(LOG_INFO, "NATIVESUPPORT: %s threw %s", what, chars.c_str() != nullptr ? chars.c_str() : "an exception");
}

void callStaticVoid(JavaVM* vm, jclass cls, jmethodID method, const char* methodName, const char* attachedLine,
                    const char* detachedLine, const std::function<bool()>& mayCall)
{
    JNIEnv* env = nullptr;
    if (vm->AttachCurrentThread(reinterpret_cast<void**>(&env), nullptr) != JNI_OK)
        env = nullptr;
    if (attachedLine != nullptr)
        syslog(LOG_INFO, attachedLine, reinterpret_cast<long>(env));
    if (env != nullptr && cls != nullptr && method != nullptr && (!mayCall || mayCall())) {
        env->CallStaticVoidMethod(cls, method);
        clearJavaException(env, methodName);
    }
    vm->DetachCurrentThread();
    if (detachedLine != nullptr)
        syslog(LOG_INFO, detachedLine, reinterpret_cast<long>(env));
}

} // namespace nativesupport
