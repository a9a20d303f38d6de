// The native methods of quorvantelix.dm.deviceapi.SharedMemoryNativeInterface.
//
// Each method holds the registry lock across its registry work: the lookup of a handle
// and every use of the instance it names happen while no other thread can release it.
#include "SharedMemory.h"

#include <jni.h>
#include <syslog.h>

#include <cstdint>
#include <mutex>

#define NATIVE_SHM(name) Java_quorvantelix_dm_deviceapi_SharedMemoryNativeInterface_##name

namespace {
using RegistryLock = std::lock_guard<std::recursive_mutex>;

// A handle is the instance's address as a signed integer widened to 64 bits; the 32-bit
// build reads it back from the low half.
jlong handleOf(SharedMemory* instance)
{
    return static_cast<jlong>(reinterpret_cast<intptr_t>(instance));
}

SharedMemory* instanceOf(jlong handle)
{
    return reinterpret_cast<SharedMemory*>(static_cast<intptr_t>(handle));
}

long logValue(const void* p)
{
    return static_cast<long>(reinterpret_cast<intptr_t>(p));
}

const jlong kNoInstance = -1;
}

extern "C" {

JNIEXPORT jlong JNICALL NATIVE_SHM(connectSharedMemoryMacLinux)(JNIEnv*, jobject, jint key, jint size)
{
    RegistryLock lock(g_sharedMemorySegmentsMutex);
    SharedMemory* instance = new SharedMemory();
    if (!instance->attachMemory(key, size)) {
        delete instance;
        return kNoInstance;
    }
    syslog(LOG_DEBUG, "SHAREDMEMORY: Successfully attached and created a new Shared Memory Instance (%ld)",
           logValue(instance));
    return handleOf(instance);
}

JNIEXPORT jobject JNICALL NATIVE_SHM(retrieveSharedMemoryDirectByteBuffer)(JNIEnv* env, jobject, jlong handle)
{
    SharedMemory* instance = instanceOf(handle);
    syslog(LOG_DEBUG, "SHAREDMEMORY: retrieveSharedMemoryDirectByteBuffer() called for Shared Memory Instance (%ld)",
           logValue(instance));
    RegistryLock lock(g_sharedMemorySegmentsMutex);
    if (!doesSharedMemoryInstanceExist(instance))
        return nullptr;
    return env->NewDirectByteBuffer(instance->getSegmentDataSpace(), static_cast<jlong>(instance->getCapacity()));
}

JNIEXPORT jboolean JNICALL NATIVE_SHM(releaseSharedMemory)(JNIEnv*, jobject, jlong handle)
{
    SharedMemory* instance = instanceOf(handle);
    syslog(LOG_DEBUG, "SHAREDMEMORY: releaseSharedMemory() called for Shared Memory Instance (%ld)",
           logValue(instance));
    RegistryLock lock(g_sharedMemorySegmentsMutex);
    if (!doesSharedMemoryInstanceExist(instance))
        return JNI_FALSE;
    if (!instance->releaseMemory())
        return JNI_FALSE;
    syslog(LOG_DEBUG, "SHAREDMEMORY: Successfully detached Shared Memory Address (%ld)",
           logValue(instance->getSegmentDataSpace()));
    syslog(LOG_DEBUG, "SHAREDMEMORY: Deleting Shared Memory Instance (%ld)", logValue(instance));
    delete instance;
    return JNI_TRUE;
}

} // extern "C"
