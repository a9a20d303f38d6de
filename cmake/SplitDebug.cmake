# Splits a built shared library into what gets installed:
#   <OUT>/<library>                      the library without its DWARF sections; it keeps its
#                                        symbol table, its build ID and gets a debug link;
#   <OUT>/build-id/<xx>/<rest>.debug     the DWARF sections, named by the build ID as under
#                                        /usr/lib/debug/.build-id.
# cmake -DLIB=<library> -DOUT=<dir> -DOBJCOPY=<objcopy> -DREADELF=<readelf> -P SplitDebug.cmake
execute_process(COMMAND ${CMAKE_COMMAND} -E env LC_ALL=C ${READELF} -n ${LIB}
                OUTPUT_VARIABLE notes COMMAND_ERROR_IS_FATAL ANY)
if(NOT notes MATCHES "Build ID: ([0-9a-f][0-9a-f])([0-9a-f]+)")
  message(FATAL_ERROR "${LIB} has no build ID")
endif()
get_filename_component(name ${LIB} NAME)
set(debug ${OUT}/build-id/${CMAKE_MATCH_1}/${CMAKE_MATCH_2}.debug)
# Only this build's debug file may be left, since the whole folder is installed.
file(REMOVE_RECURSE ${OUT})
file(MAKE_DIRECTORY ${OUT}/build-id/${CMAKE_MATCH_1})
execute_process(COMMAND ${OBJCOPY} --only-keep-debug --compress-debug-sections ${LIB} ${debug}
                COMMAND_ERROR_IS_FATAL ANY)
file(CHMOD ${debug} PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
execute_process(COMMAND ${OBJCOPY} --strip-debug ${LIB} ${OUT}/${name}.part COMMAND_ERROR_IS_FATAL ANY)
execute_process(COMMAND ${OBJCOPY} --add-gnu-debuglink=${debug} ${OUT}/${name}.part ${OUT}/${name}
                COMMAND_ERROR_IS_FATAL ANY)
file(REMOVE ${OUT}/${name}.part)
