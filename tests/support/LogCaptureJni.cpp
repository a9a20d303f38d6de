// quorvantelix.test.SysLog: the log capture for the JUnit suites.
#include "LogCapture.h"

#include <jni.h>

#include <chrono>
#include <string>

namespace {
// Never destroyed: the JVM runs exit handlers on a thread of its own while a suite's
// threads may still log.
nstest::LogCapture& g_capture = *new nstest::LogCapture();

// Lines reach Java as "P text", P being the priority digit.
jobjectArray toJava(JNIEnv* env, const std::vector<nstest::LogLine>& lines)
{
    jclass stringClass = env->FindClass("java/lang/String");
    jobjectArray array = env->NewObjectArray(static_cast<jsize>(lines.size()), stringClass, nullptr);
    for (size_t i = 0; i < lines.size(); ++i) {
        std::string s = std::to_string(lines[i].priority) + " " + lines[i].text;
        jstring js = env->NewStringUTF(s.c_str());
        env->SetObjectArrayElement(array, static_cast<jsize>(i), js);
        env->DeleteLocalRef(js);
    }
    return array;
}
}

extern "C" {

JNIEXPORT jboolean JNICALL Java_quorvantelix_test_SysLog_start(JNIEnv*, jclass)
{
    return g_capture.start() ? JNI_TRUE : JNI_FALSE;
}

JNIEXPORT void JNICALL Java_quorvantelix_test_SysLog_stop(JNIEnv*, jclass)
{
    g_capture.stop();
}

JNIEXPORT jobjectArray JNICALL Java_quorvantelix_test_SysLog_take(JNIEnv* env, jclass)
{
    return toJava(env, g_capture.take());
}

JNIEXPORT jobjectArray JNICALL Java_quorvantelix_test_SysLog_lines(JNIEnv* env, jclass)
{
    return toJava(env, g_capture.lines());
}

JNIEXPORT jboolean JNICALL Java_quorvantelix_test_SysLog_waitForLines(JNIEnv* env, jclass, jstring line, jint count,
                                                                       jlong millis)
{
    const char* chars = env->GetStringUTFChars(line, nullptr);
    std::string wanted = chars;
    env->ReleaseStringUTFChars(line, chars);
    const bool found = g_capture.waitForCount(
        [&](const nstest::LogLine& l) { return std::to_string(l.priority) + " " + l.text == wanted; }, count,
        std::chrono::milliseconds(millis));
    return found ? JNI_TRUE : JNI_FALSE;
}

} // extern "C"
