# Installs the build into a fresh prefix, builds a C program against it with
# pkg-config and a C++ program with find_package(dat), and runs both on a
# sample archive: what a user of the installed library does.
# Takes BUILD, SOURCE, WORK, PKG_CONFIG, CC and VERSION.
file(REMOVE_RECURSE ${WORK})
set(prefix ${WORK}/prefix)
set(archive ${SOURCE}/tests/data/worked_example.dat)
set(want_listing "data\\\ndata\\a.txt\ndata\\m.msh\n")
set(want "${want_listing}0123456789\n")

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT status EQUAL 0)
    message(FATAL_ERROR "${ARGN}\nfailed (${status}):\n${out}${err}")
  endif()
  set(out "${out}" PARENT_SCOPE)
endfunction()

run(${CMAKE_COMMAND} --install ${BUILD} --prefix ${prefix})
file(GLOB pc_dirs ${prefix}/lib*/pkgconfig ${prefix}/lib/*/pkgconfig)
file(GLOB lib_dirs ${prefix}/lib* ${prefix}/lib/*-linux-gnu)
string(REPLACE ";" ":" pc_path "${pc_dirs}")
string(REPLACE ";" ":" lib_path "${lib_dirs}")

# C, with pkg-config's flags, run against the installed shared library.
set(ENV{PKG_CONFIG_PATH} ${pc_path})
run(${PKG_CONFIG} --cflags --libs dat)
separate_arguments(flags UNIX_COMMAND "${out}")
run(${CC} -std=c99 -Wall -Wextra -Werror ${SOURCE}/tests/library/installed/list.c ${flags} -o ${WORK}/list_c)
run(${CMAKE_COMMAND} -E env LD_LIBRARY_PATH=${lib_path} ${WORK}/list_c ${archive} data/m.msh)
if(NOT out STREQUAL want)
  message(FATAL_ERROR "the C program printed:\n${out}")
endif()

# C, writing an archive with the installed library's writer.
run(${CC} -std=c99 -Wall -Wextra -Werror ${SOURCE}/tests/library/installed/write.c ${flags} -o ${WORK}/write_c)
file(WRITE ${WORK}/a.txt "abc")
run(${CMAKE_COMMAND} -E env LD_LIBRARY_PATH=${lib_path} ${WORK}/write_c ${WORK}/written.dat ${WORK}/a.txt)
if(NOT out STREQUAL "${want_listing}${VERSION}\n")
  message(FATAL_ERROR "the C writer printed:\n${out}")
endif()
# The same archive as c made of the same tree.
file(READ ${WORK}/written.dat written HEX)
file(READ ${archive} worked HEX)
if(NOT written STREQUAL worked)
  message(FATAL_ERROR "the C writer's archive differs from ${archive}")
endif()

# C++, with find_package(dat).
run(${CMAKE_COMMAND} -S ${SOURCE}/tests/library/installed -B ${WORK}/cpp -DCMAKE_PREFIX_PATH=${prefix})
run(${CMAKE_COMMAND} --build ${WORK}/cpp)
run(${CMAKE_COMMAND} -E env LD_LIBRARY_PATH=${lib_path} ${WORK}/cpp/list_cpp ${archive} data/m.msh)
if(NOT out STREQUAL want)
  message(FATAL_ERROR "the C++ program printed:\n${out}")
endif()
