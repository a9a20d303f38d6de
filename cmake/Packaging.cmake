# Install rules (component jni) of the library of this tree's ABI.
#
#   <prefix>/lib/<triplet>/jni/libNativeSupport.so         where Debian puts JNI libraries
#   <prefix>/lib/debug/.build-id/<xx>/<rest>.debug          its DWARF sections
#   <prefix>/share/doc/libnativesupport-jni/copyright, README
#
# The installed library keeps its symbol table and build ID; only the DWARF sections move
# to the separate debug file, which debuggers and crash tools find by build ID (or by the
# library's debug link). Sanitizer and fuzzing trees are not installed.
if(NS_SANITIZE OR NS_FUZZ)
  return()
endif()

set(NS_MULTIARCH "${CMAKE_LIBRARY_ARCHITECTURE}")
if(NOT NS_MULTIARCH)
  message(FATAL_ERROR "the compiler reports no multiarch triplet; cannot place the JNI library")
endif()
set(NS_JNI_DIR lib/${NS_MULTIARCH}/jni)
set(NS_DOC_DIR share/doc/libnativesupport-jni)

set(_ns_dist ${CMAKE_BINARY_DIR}/dist)
set(_ns_lib ${CMAKE_SHARED_LIBRARY_PREFIX}NativeSupport${CMAKE_SHARED_LIBRARY_SUFFIX})
add_custom_command(
  OUTPUT ${_ns_dist}/${_ns_lib}
  COMMAND ${CMAKE_COMMAND} -DLIB=$<TARGET_FILE:NativeSupport> -DOUT=${_ns_dist}
          -DOBJCOPY=${CMAKE_OBJCOPY} -DREADELF=${CMAKE_READELF} -P ${CMAKE_CURRENT_LIST_DIR}/SplitDebug.cmake
  DEPENDS NativeSupport ${CMAKE_CURRENT_LIST_DIR}/SplitDebug.cmake
  COMMENT "Splitting the debug information off ${_ns_lib}")
add_custom_target(NativeSupportDist ALL DEPENDS ${_ns_dist}/${_ns_lib})

set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
install(FILES ${_ns_dist}/${_ns_lib} DESTINATION ${NS_JNI_DIR} COMPONENT jni)
install(DIRECTORY ${_ns_dist}/build-id/ DESTINATION lib/debug/.build-id COMPONENT jni)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright ${PROJECT_SOURCE_DIR}/packaging/README
        DESTINATION ${NS_DOC_DIR} COMPONENT jni)
