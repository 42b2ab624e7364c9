# Writes the COMMANDS section of slhost's man page for help2man: every command's own --help,
# taken from the built program, so the page and the program cannot disagree.
#   cmake -DSLHOST=<slhost> -DOUTPUT=<file> -P man_commands.cmake
execute_process(COMMAND ${SLHOST} --help OUTPUT_VARIABLE help RESULT_VARIABLE failed)
if(failed)
  message(FATAL_ERROR "${SLHOST} --help failed")
endif()
string(REGEX MATCH "Subcommands:\n(  [a-z-]+[^\n]*\n)+" listing "${help}")
string(REGEX MATCHALL "\n  [a-z-]+" names "${listing}")
set(text "[COMMANDS]\n")
foreach(name ${names})
  string(STRIP "${name}" name)
  execute_process(COMMAND ${SLHOST} ${name} --help OUTPUT_VARIABLE page RESULT_VARIABLE failed)
  if(failed)
    message(FATAL_ERROR "${SLHOST} ${name} --help failed")
  endif()
  # Shown as it is: backslashes escaped, and no line read as a request.
  string(REPLACE "\\" "\\e" page "${page}")
  string(REGEX REPLACE "(^|\n)([.'])" "\\1\\\\&\\2" page "${page}")
  string(APPEND text ".SS ${name}\n.nf\n${page}.fi\n")
endforeach()
file(WRITE ${OUTPUT} "${text}")
