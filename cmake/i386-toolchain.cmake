# The 32-bit x86 target, built on an x86_64 Debian host with multiarch i386 libraries.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)
set(CMAKE_C_FLAGS_INIT "-m32")
set(CMAKE_CXX_FLAGS_INIT "-m32")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-m32")
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)
set(ENV{PKG_CONFIG_LIBDIR} "/usr/lib/i386-linux-gnu/pkgconfig:/usr/share/pkgconfig")
set(NS_I386 ON CACHE BOOL "" FORCE)

# Some hosts cannot execute i386 programs natively; run them under qemu there.
include(${CMAKE_CURRENT_LIST_DIR}/I386Emulator.cmake)
if(NS_I386_EMULATOR)
  set(CMAKE_CROSSCOMPILING_EMULATOR "${NS_I386_EMULATOR}")
endif()
