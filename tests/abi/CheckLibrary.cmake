# Checks a built libNativeSupport.so: the ELF class it should have, its 29 JNI exports, and
# that it calls none of libusb's synchronous transfer functions (their completion reads the
# transfer after its waiter may have freed it, in libusb 1.0.26).
# cmake -DLIB=<path> -DEXPECT=<text `file` must print> -P CheckLibrary.cmake
execute_process(COMMAND file -L ${LIB} OUTPUT_VARIABLE kind)
if(NOT kind MATCHES "${EXPECT}")
  message(FATAL_ERROR "${LIB} is not '${EXPECT}': ${kind}")
endif()
execute_process(COMMAND nm -D --defined-only ${LIB} OUTPUT_VARIABLE symbols)
set(usb connections_usb_NativeUSB)
set(shm deviceapi_SharedMemoryNativeInterface)
foreach(export
    ${usb}_createNativeUsbInstance ${usb}_destroyNativeUsbInstance ${usb}_getNativeUsbVid ${usb}_getNativeUsbPid
    ${usb}_getNativeUsbxMax ${usb}_readMaxX ${usb}_readMaxY ${usb}_getNativeUsbSerialNumber
    ${usb}_getNativeUsbFirmwareVersion ${usb}_getNativeUsbProductName ${usb}_connectNativeUsb ${usb}_readNativeUsbState
    ${usb}_writeCommand ${usb}_writeFirmwareCommand ${usb}_writeToControlTransfer ${usb}_dfuDetach ${usb}_dfuDownload
    ${usb}_dfuGetStatus ${usb}_dfuClearStatus ${usb}_dfuGetState ${usb}_dfuAbort ${usb}_discoverUSBInputDevices
    ${usb}_getNativeUsbVidDirect ${usb}_getNativeUsbPidDirect ${usb}_subscribeUSBChangeEvents
    ${usb}_unsubscribeUSBChangeEvents ${shm}_connectSharedMemoryMacLinux ${shm}_retrieveSharedMemoryDirectByteBuffer
    ${shm}_releaseSharedMemory)
  if(NOT symbols MATCHES " T Java_quorvantelix_dm_${export}\n")
    message(FATAL_ERROR "missing export ${export}")
  endif()
endforeach()
string(REGEX MATCHALL " T Java_[A-Za-z_]+" all "${symbols}")
list(LENGTH all exported)
if(NOT exported EQUAL 29)
  message(FATAL_ERROR "expected 29 JNI exports, found ${exported}")
endif()
execute_process(COMMAND nm -D --undefined-only ${LIB} OUTPUT_VARIABLE imports)
string(REGEX MATCHALL "libusb_(control_transfer|interrupt_transfer|bulk_transfer|get_string_descriptor[a-z_]*|get_descriptor)"
       synchronous "${imports}")
if(synchronous)
  message(FATAL_ERROR "${LIB} calls libusb's synchronous transfers: ${synchronous}")
endif()
message(STATUS "${LIB}: ${EXPECT}, 29 JNI exports, no synchronous libusb transfer")
