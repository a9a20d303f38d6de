# Sanitizer builds (presets asan and tsan) and the libFuzzer build (preset fuzz).
#
# NS_SANITIZE lists the sanitizers everything is compiled with ("address,undefined" or
# "thread"). Test programs carry the runtime statically, so umockdev's preload library can
# come first in their environment; a JVM has to preload the shared runtime
# (NS_SANITIZER_RUNTIME) before anything instrumented is loaded into it.
set(NS_SANITIZE "" CACHE STRING "Sanitizers to build with: address,undefined or thread; empty for none")
option(NS_FUZZ "Build the libFuzzer targets (clang) instead of the test suites" OFF)

if(NS_SANITIZE)
  add_compile_options(-fsanitize=${NS_SANITIZE} -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=${NS_SANITIZE})
  set(_ns_static_runtime)
  if(NS_SANITIZE MATCHES "address")
    set(_ns_runtime libasan.so)
    list(APPEND _ns_static_runtime -static-libasan)
  elseif(NS_SANITIZE MATCHES "thread")
    set(_ns_runtime libtsan.so)
    list(APPEND _ns_static_runtime -static-libtsan)
  endif()
  if(NS_SANITIZE MATCHES "undefined" AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    list(APPEND _ns_static_runtime -static-libubsan)
  endif()
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    add_link_options("$<$<STREQUAL:$<TARGET_PROPERTY:TYPE>,EXECUTABLE>:${_ns_static_runtime}>")
  endif()
  if(NS_SANITIZE MATCHES "thread")
    add_library(ns_tsan_defaults OBJECT ${CMAKE_CURRENT_LIST_DIR}/../tests/sanitizers/TsanDefaults.cpp)
    link_libraries("$<$<STREQUAL:$<TARGET_PROPERTY:TYPE>,EXECUTABLE>:ns_tsan_defaults>")
  endif()
  if(_ns_runtime)
    execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${_ns_runtime}
                    OUTPUT_VARIABLE _ns_runtime_path OUTPUT_STRIP_TRAILING_WHITESPACE)
    get_filename_component(NS_SANITIZER_RUNTIME "${_ns_runtime_path}" REALPATH)
  endif()
endif()
if(NS_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "the fuzz targets need clang (libFuzzer); use the fuzz preset")
  endif()
  # Coverage feedback from the library's own code, not only from the fuzz harnesses.
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()

# The environment of a JVM that loads instrumented libraries. The JVM keeps its own
# signal handlers (it takes SIGSEGV for null checks and safepoints), and what it allocates
# for itself is not the library's leak; ThreadSanitizer's reports about the JVM's own
# frames are filtered by tests/sanitizers/tsan-jvm.supp. Any other report ends the JVM
# with a failure.
set(NS_SANITIZER_JVM_ENV)
if(NS_SANITIZE MATCHES "address")
  list(APPEND NS_SANITIZER_JVM_ENV
       "ASAN_OPTIONS=detect_leaks=0:handle_segv=0:handle_sigbus=0:handle_sigfpe=0:handle_sigill=0:allow_user_segv_handler=1:halt_on_error=1:detect_odr_violation=0")
endif()
if(NS_SANITIZE MATCHES "undefined")
  list(APPEND NS_SANITIZER_JVM_ENV "UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1")
endif()
if(NS_SANITIZE MATCHES "thread")
  list(APPEND NS_SANITIZER_JVM_ENV
       "TSAN_OPTIONS=suppressions=${CMAKE_CURRENT_LIST_DIR}/../tests/sanitizers/tsan-jvm.supp:ignore_noninstrumented_modules=1:halt_on_error=1:exitcode=66:handle_segv=0:report_signal_unsafe=0:history_size=4")
endif()

# The JUnit suites run under the sanitizers: the ones that drive the library's USB,
# instance, shared memory and hot-plug code from many Java threads, the output, control and
# firmware update paths with their failures and calls cut short, and the display thread.
# ThreadSanitizer cannot see GLib's futex locks: the suites with GTK or a Swing window run
# under AddressSanitizer only.
set(NS_SANITIZED_JUNIT ConnectAndReadTest OutputTest
    SharedMemoryTest HotPlugTest StressTest ExitWhileInUseTest HostileCallerTest HostileDeviceTest
    DisplayChangeTest DisplayServerTest)
if(NS_SANITIZE MATCHES "address")
  list(APPEND NS_SANITIZED_JUNIT SwingApplicationTest SwingServerLossTest)
endif()
