// quorvantelix.test.Toolkit: a stand-in for the application's own toolkit on the X server
// (as AWT is): its own connection, and its own X error handler, installed before the
// library's display thread starts.
#include <X11/Xlib.h>
#include <jni.h>

#include <atomic>

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

} // extern "C"
