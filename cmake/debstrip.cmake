# Run by cpack on the staged tree before it is packed: strips as Debian packages are stripped,
# the commands of their symbols and the archives of their debug sections (the symbols a consumer
# links against stay), both of the compiler's .comment and .note sections.
set(common --remove-section=.comment --remove-section=.note)
file(GLOB_RECURSE archives "${CPACK_TEMPORARY_DIRECTORY}/*.a")
# Each package is staged in a folder of its own (host/usr/sbin/...): a glob's * stops at a slash.
file(GLOB_RECURSE staged "${CPACK_TEMPORARY_DIRECTORY}/*")
set(commands ${staged})
list(FILTER commands INCLUDE REGEX "/sbin/[^/]+$")
foreach(archive IN LISTS archives)
  execute_process(COMMAND ${CPACK_VT_STRIP} --strip-debug --enable-deterministic-archives ${common} ${archive}
    COMMAND_ERROR_IS_FATAL ANY)
endforeach()
foreach(command IN LISTS commands)
  execute_process(COMMAND ${CPACK_VT_STRIP} --strip-all ${common} ${command} COMMAND_ERROR_IS_FATAL ANY)
endforeach()
