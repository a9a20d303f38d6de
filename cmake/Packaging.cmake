# Install rules (component jni): what the Debian package libnativesupport-jni holds, built
# from debian/ by dpkg-buildpackage (scripts/package.sh), one package per architecture.
#
#   <prefix>/lib/<triplet>/jni/libNativeSupport.so              where Debian puts JNI libraries
#   <prefix>/lib/udev/rules.d/60-libnativesupport-jni.rules     the tablets for the user at the seat
#   <prefix>/share/doc/libnativesupport-jni/README              how to load it
#
# The package build strips the library and moves its debug information into the
# libnativesupport-jni-dbgsym package. Sanitizer and fuzzing trees are not installed.
if(NS_SANITIZE OR NS_FUZZ)
  return()
endif()

set(NS_MULTIARCH "${CMAKE_LIBRARY_ARCHITECTURE}")
if(NOT NS_MULTIARCH)
  message(FATAL_ERROR "the compiler reports no multiarch triplet; cannot place the JNI library")
endif()

set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
install(TARGETS NativeSupport LIBRARY DESTINATION lib/${NS_MULTIARCH}/jni COMPONENT jni)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/60-libnativesupport-jni.rules DESTINATION lib/udev/rules.d
        COMPONENT jni)
install(FILES ${PROJECT_SOURCE_DIR}/packaging/README DESTINATION share/doc/libnativesupport-jni COMPONENT jni)

# The Debian architecture of this tree's triplet (i386-linux-gnu: i386, x86_64-linux-gnu:
# amd64), for the package tests; and the package's version, which is the project's.
find_program(NS_DPKG_ARCHITECTURE dpkg-architecture REQUIRED)
execute_process(COMMAND ${NS_DPKG_ARCHITECTURE} -t${NS_MULTIARCH} -qDEB_HOST_ARCH
                OUTPUT_VARIABLE NS_DEB_ARCH OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
file(STRINGS ${PROJECT_SOURCE_DIR}/debian/changelog _ns_changelog LIMIT_COUNT 1)
if(NOT _ns_changelog MATCHES "^nativesupport \\(${PROJECT_VERSION}\\) ")
  message(FATAL_ERROR "debian/changelog names another version than the project's ${PROJECT_VERSION}: ${_ns_changelog}")
endif()
