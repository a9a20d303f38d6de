# NS_I386_EMULATOR: what runs an i386 program on this machine, qemu-i386 where it cannot
# execute one itself; empty where it can.
execute_process(COMMAND /lib/ld-linux.so.2 --version
                RESULT_VARIABLE _ns_i386_native OUTPUT_QUIET ERROR_QUIET)
set(NS_I386_EMULATOR "")
if(NOT _ns_i386_native EQUAL 0)
  find_program(NS_QEMU_I386 qemu-i386 REQUIRED)
  set(NS_I386_EMULATOR "${NS_QEMU_I386}")
endif()
