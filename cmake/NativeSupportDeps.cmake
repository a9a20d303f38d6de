# Third-party pieces the library and its tests build against.
find_package(PkgConfig REQUIRED)
pkg_check_modules(LIBUSB REQUIRED IMPORTED_TARGET libusb-1.0)
# XCB's headers only (Debian libxcb1-dev, libxcb-randr0-dev): the libraries are loaded at
# run time, and the headers are the same for both ABIs.
find_path(NS_XCB_INCLUDE xcb/randr.h REQUIRED)
find_package(Threads REQUIRED)

# JNI headers come from the installed JDK; nothing of AWT or libjvm is linked, since the
# library only talks to the VM through the JNIEnv and JavaVM function tables.
find_program(NS_JAVAC javac REQUIRED)
get_filename_component(_javac_real "${NS_JAVAC}" REALPATH)
get_filename_component(NS_JDK_HOME "${_javac_real}/../.." ABSOLUTE)
find_path(NS_JNI_INCLUDE jni.h PATHS "${NS_JDK_HOME}/include" NO_DEFAULT_PATH REQUIRED)
find_path(NS_JNI_MD_INCLUDE jni_md.h PATHS "${NS_JDK_HOME}/include/linux" NO_DEFAULT_PATH REQUIRED)
set(JNI_INCLUDE_DIRS ${NS_JNI_INCLUDE} ${NS_JNI_MD_INCLUDE})
