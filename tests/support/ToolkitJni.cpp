// quorvantelix.test.Toolkit: stand-ins for what an application brings into the JVM beside the
// library: its own toolkit's X connection with its own X error handler (as AWT has), and its
// environment.
#include <X11/Xlib.h>
#include <jni.h>

#include <atomic>
#include <cstdlib>

namespace {
Display* g_display = nullptr;
std::atomic<int> g_errors{0};

int countError(Display*, XErrorEvent*)
{
    ++g_errors;
    return 0;
}
}

extern "C" {

JNIEXPORT jboolean JNICALL Java_quorvantelix_test_Toolkit_open(JNIEnv*, jclass)
{
    g_display = XOpenDisplay(nullptr);
    if (g_display == nullptr)
        return JNI_FALSE;
    XSetErrorHandler(countError);
    return JNI_TRUE;
}

// A request about a window that does not exist (one that just went away, as often
// happens): the server answers with a BadWindow error. Returns the errors handled so far.
JNIEXPORT jint JNICALL Java_quorvantelix_test_Toolkit_provokeBadWindow(JNIEnv*, jclass)
{
    XMapWindow(g_display, 0x1fffffff);
    XSync(g_display, False);
    return g_errors.load();
}

// Sets DISPLAY in the process's environment, or removes it (null).
JNIEXPORT void JNICALL Java_quorvantelix_test_Toolkit_setDisplay(JNIEnv* env, jclass, jstring display)
{
    if (display == nullptr) {
        unsetenv("DISPLAY");
        return;
    }
    const char* chars = env->GetStringUTFChars(display, nullptr);
    setenv("DISPLAY", chars, 1);
    env->ReleaseStringUTFChars(display, chars);
}

} // extern "C"
