# Checks a built libNativeSupport.so: the ELF class it should have, its 29 JNI exports, and
# that it calls none of libusb's synchronous transfer functions (their completion reads the
# transfer after its waiter may have freed it, in libusb 1.0.26).
# cmake -DLIB=<path> -DEXPECT=<text `file` must print> -P CheckLibrary.cmake
execute_process(COMMAND file -L ${LIB} OUTPUT_VARIABLE kind)
if(NOT kind MATCHES "${EXPECT}")
  message(FATAL_ERROR "${LIB} is not '${EXPECT}': ${kind}")
endif()
execute_process(COMMAND nm -D --defined-only ${LIB} OUTPUT_VARIABLE symbols)
set(expected
  createNativeUsbInstance destroyNativeUsbInstance getNativeUsbVid getNativeUsbPid getNativeUsbxMax
  readMaxX readMaxY getNativeUsbSerialNumber getNativeUsbFirmwareVersion getNativeUsbProductName
  connectNativeUsb readNativeUsbState writeCommand writeFirmwareCommand writeToControlTransfer
  dfuDetach dfuDownload dfuGetStatus dfuClearStatus dfuGetState dfuAbort
  discoverUSBInputDevices getNativeUsbVidDirect getNativeUsbPidDirect
  subscribeUSBChangeEvents unsubscribeUSBChangeEvents)
set(count 0)
foreach(m IN LISTS expected)
  if(NOT symbols MATCHES " T Java_quorvantelix_dm_connections_usb_NativeUSB_${m}\n")
    message(FATAL_ERROR "missing export NativeUSB.${m}")
  endif()
  math(EXPR count "${count} + 1")
endforeach()
foreach(m connectSharedMemoryMacLinux retrieveSharedMemoryDirectByteBuffer releaseSharedMemory)
  if(NOT symbols MATCHES " T Java_quorvantelix_dm_deviceapi_SharedMemoryNativeInterface_${m}\n")
    message(FATAL_ERROR "missing export SharedMemoryNativeInterface.${m}")
  endif()
  math(EXPR count "${count} + 1")
endforeach()
string(REGEX MATCHALL " T Java_[A-Za-z_]+" all "${symbols}")
list(LENGTH all exported)
if(NOT exported EQUAL 29 OR NOT count EQUAL 29)
  message(FATAL_ERROR "expected 29 JNI exports, found ${exported}")
endif()
execute_process(COMMAND nm -D --undefined-only ${LIB} OUTPUT_VARIABLE imports)
string(REGEX MATCHALL "libusb_(control_transfer|interrupt_transfer|bulk_transfer|get_string_descriptor[a-z_]*|get_descriptor)"
       synchronous "${imports}")
if(synchronous)
  message(FATAL_ERROR "${LIB} calls libusb's synchronous transfers: ${synchronous}")
endif()
message(STATUS "${LIB}: ${EXPECT}, 29 JNI exports, no synchronous libusb transfer")
