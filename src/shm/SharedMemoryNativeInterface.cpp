// The native methods of quorvantelix.dm.deviceapi.SharedMemoryNativeInterface.
//
// Each method that takes a handle holds the instance for its whole work (a lease, or the
// instance retired for a release), so that no other thread can release it in between.
#include "JniUtil.h"
#include "SharedMemory.h"

#include <syslog.h>

#include <memory>

#define NATIVE_SHM(name) Java_quorvantelix_dm_deviceapi_SharedMemoryNativeInterface_##name

using namespace nativesupport;

namespace {
const char kPrefix[] = "SHAREDMEMORY: ";
const jlong kNoInstance = -1;
}

extern "C" {

JNIEXPORT jlong JNICALL NATIVE_SHM(connectSharedMemoryMacLinux)(JNIEnv*, jobject, jint key, jint size)
{
    return guarded(kPrefix, "connectSharedMemoryMacLinux", kNoInstance, [&] {
        auto instance = std::make_unique<SharedMemory>();
        SharedMemory* created = instance.get();
        syslog(LOG_DEBUG, "SHAREDMEMORY: Constructor Pushing Shared Memory Instance (%ld)", logValue(created));
        const jlong handle = sharedMemorySegments().add(std::move(instance));
        // Attached while no other call can reach the instance; a failed one is deleted.
        bool attached = false;
        sharedMemorySegments().retire(handle, [&](SharedMemory& segment) {
            attached = segment.attachMemory(key, size);
            return !attached;
        });
        if (!attached)
            return kNoInstance;
        syslog(LOG_DEBUG, "SHAREDMEMORY: Successfully attached and created a new Shared Memory Instance (%ld)",
               logValue(created));
        return handle;
    });
}

JNIEXPORT jobject JNICALL NATIVE_SHM(retrieveSharedMemoryDirectByteBuffer)(JNIEnv* env, jobject, jlong handle)
{
    return guarded(kPrefix, "retrieveSharedMemoryDirectByteBuffer", jobject{nullptr}, [&]() -> jobject {
        SharedMemory* instance = static_cast<SharedMemory*>(pointerFromHandle(handle));
        syslog(LOG_DEBUG,
               "SHAREDMEMORY: retrieveSharedMemoryDirectByteBuffer() called for Shared Memory Instance (%ld)",
               logValue(instance));
        auto lease = sharedMemorySegments().lease(handle);
        if (!lease || !doesSharedMemoryInstanceExist(instance))
            return nullptr;
        return env->NewDirectByteBuffer(lease->getSegmentDataSpace(), static_cast<jlong>(lease->getCapacity()));
    });
}

JNIEXPORT jboolean JNICALL NATIVE_SHM(releaseSharedMemory)(JNIEnv*, jobject, jlong handle)
{
    return guarded(kPrefix, "releaseSharedMemory", jboolean{JNI_FALSE}, [&]() -> jboolean {
        SharedMemory* instance = static_cast<SharedMemory*>(pointerFromHandle(handle));
        syslog(LOG_DEBUG, "SHAREDMEMORY: releaseSharedMemory() called for Shared Memory Instance (%ld)",
               logValue(instance));
        bool released = false;
        sharedMemorySegments().retire(handle, [&](SharedMemory& segment) {
            if (!doesSharedMemoryInstanceExist(&segment) || !segment.releaseMemory())
                return false;
            syslog(LOG_DEBUG, "SHAREDMEMORY: Successfully detached Shared Memory Address (%ld)",
                   logValue(segment.getSegmentDataSpace()));
            syslog(LOG_DEBUG, "SHAREDMEMORY: Deleting Shared Memory Instance (%ld)", logValue(&segment));
            released = true;
            return true;
        });
        return released ? JNI_TRUE : JNI_FALSE;
    });
}

} // extern "C"
