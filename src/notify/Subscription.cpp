// USB change and display change notifications to Java.
#include <jni.h>

extern "C" {

JNIEXPORT void JNICALL Java_quorvantelix_dm_connections_usb_NativeUSB_subscribeUSBChangeEvents(JNIEnv*, jobject)
{
}

JNIEXPORT void JNICALL Java_quorvantelix_dm_connections_usb_NativeUSB_unsubscribeUSBChangeEvents(JNIEnv*, jobject)
{
}

} // extern "C"
