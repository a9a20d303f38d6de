#pragma once
// The library's calls of Java from threads of its own.
#include <jni.h>

#include <functional>

namespace nativesupport {

// Calls a static void method without arguments from a native thread: attaches the thread
// to `vm` for the call and detaches it afterwards. A Java exception the call leaves is
// logged (one line: the method, the exception's class and message) and cleared, so it is
// never reported again as uncaught when the thread detaches. `attachedLine` and
// `detachedLine`, when given, are logged with the JNIEnv the thread had (0 when it could
// not attach). `mayCall`, when given, is asked once the thread is attached, right before
// the call: false leaves the method uncalled.
void callStaticVoid(JavaVM* vm, jclass cls, jmethodID method, const char* methodName, const char* attachedLine,
                    const char* detachedLine, const std::function<bool()>& mayCall = nullptr);

// Logs and clears a pending Java exception, if any; `what` names what raised it.
void clearJavaException(JNIEnv* env, const char* what);

} // namespace nativesupport
