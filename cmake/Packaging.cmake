# Install rules (component jni) and the Debian package libnativesupport-jni, one per ABI:
# architecture i386 from the 32-bit tree, amd64 from the 64-bit one.
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

# The Debian architecture of this tree's triplet (i386-linux-gnu: i386, x86_64-linux-gnu: amd64).
find_program(NS_DPKG_ARCHITECTURE dpkg-architecture)
if(NS_DPKG_ARCHITECTURE)
  execute_process(COMMAND ${NS_DPKG_ARCHITECTURE} -t${NS_MULTIARCH} -qDEB_HOST_ARCH
                  OUTPUT_VARIABLE NS_DEB_ARCH OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
endif()
if(NOT NS_DEB_ARCH)
  # cpack would label the package with the machine's own architecture instead.
  message(WARNING "dpkg-architecture (dpkg-dev) gives no Debian architecture for ${NS_MULTIARCH}")
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME libnativesupport-jni)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "NativeSupport developers")
set(CPACK_PACKAGE_CONTACT "NativeSupport developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "JNI library of the pen tablet device manager")
set(CPACK_PACKAGE_DESCRIPTION "\
libNativeSupport.so is the native side of the Java device manager of pen tablets.
It finds and opens the tablets through libusb-1.0, streams their pen reports to
Java, sends commands and firmware updates, reports USB and display changes (GTK+ 2,
loaded when first needed) and lends Java System V shared memory segments.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# Only the jni component: a tree built with its tests has other install rules.
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};${PROJECT_NAME};jni;/")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "NativeSupport developers")
set(CPACK_DEBIAN_PACKAGE_SECTION java)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
if(NS_DEB_ARCH)
  set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${NS_DEB_ARCH})
endif()
# Depends from the libraries it links (dpkg-shlibdeps); XCB is only loaded when a display
# change subscription needs it.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libxcb1, libxcb-randr0")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
include(CPack)
