// The native methods of quorvantelix.dm.deviceapi.SharedMemoryNativeInterface.
#include <jni.h>

#define NATIVE_SHM(name) Java_quorvantelix_dm_deviceapi_SharedMemoryNativeInterface_##name

extern "C" {

JNIEXPORT jlong JNICALL NATIVE_SHM(connectSharedMemoryMacLinux)(JNIEnv*, jobject, jint, jint)
{
    return -1;
}

JNIEXPORT jobject JNICALL NATIVE_SHM(retrieveSharedMemoryDirectByteBuffer)(JNIEnv*, jobject, jlong)
{
    return nullptr;
}

JNIEXPORT jboolean JNICALL NATIVE_SHM(releaseSharedMemory)(JNIEnv*, jobject, jlong)
{
    return JNI_FALSE;
}

} // extern "C"
