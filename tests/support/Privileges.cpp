// quorvantelix.test.Privileges: the JVM gives up root for good and runs on as an ordinary
// user, as a desktop user's application does.
#include <grp.h>
#include <jni.h>
#include <sys/prctl.h>
#include <unistd.h>

extern "C" JNIEXPORT jboolean JNICALL Java_quorvantelix_test_Privileges_become(JNIEnv*, jclass, jint uid, jint gid)
{
    // glibc changes the ids of every thread of the process. A process that changed its ids
    // is no longer dumpable, which would hide its own /proc/self from it.
    if (setgroups(0, nullptr) != 0 || setresgid(gid, gid, gid) != 0 || setresuid(uid, uid, uid) != 0)
        return JNI_FALSE;
    return prctl(PR_SET_DUMPABLE, 1) == 0 ? JNI_TRUE : JNI_FALSE;
}
