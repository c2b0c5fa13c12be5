# Checks a man page with every linter it is given (GROFF, MANDOC: paths, or
# empty for one that is missing). Any message at all fails the check: groff
# exits 0 after a warning, so its silence is what counts.
#   cmake -DPAGE=dattool.1 -DGROFF=/usr/bin/groff -DMANDOC=/usr/bin/mandoc -P lint_man.cmake
if(NOT EXISTS "${PAGE}")
  message(FATAL_ERROR "no man page at '${PAGE}'")
endif()
if(NOT GROFF AND NOT MANDOC)
  message(FATAL_ERROR "neither groff nor mandoc given")
endif()

set(failed FALSE)
function(lint name)
  execute_process(COMMAND ${ARGN} "${PAGE}" RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE out)
  if(NOT rc EQUAL 0 OR NOT out STREQUAL "")
    message("${name} (exit ${rc}):\n${out}")
    set(failed TRUE PARENT_SCOPE)
  endif()
endfunction()
if(GROFF)
  lint(groff ${GROFF} -man -ww -z)
endif()
if(MANDOC)
  lint(mandoc ${MANDOC} -T lint -W style)
endif()
if(failed)
  message(FATAL_ERROR "${PAGE} does not format cleanly")
endif()
message(STATUS "${PAGE} formats cleanly")
