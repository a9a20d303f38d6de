# Checks a built libNativeSupport.so: the ELF class it should have and its 29 JNI exports.
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
message(STATUS "${LIB}: ${EXPECT}, 29 JNI exports")
