# Drives the fixture project: a tree with an upward include configures but does not build; each
# kind of broken include (angle or quoted, inside core or across folders, a folder no layer
# declares) stops the build with its sentence; the mended tree builds again.

set(source ${SCRATCH}/source)
set(build ${SCRATCH}/build)

function(run output_var code_var)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE code OUTPUT_VARIABLE out ERROR_VARIABLE out)
  set(${output_var} "${out}" PARENT_SCOPE)
  set(${code_var} ${code} PARENT_SCOPE)
endfunction()

function(build_must_pass why)
  run(out code ${CMAKE_COMMAND} --build ${build} -j2)
  if(NOT code EQUAL 0)
    message(FATAL_ERROR "The build failed ${why}:\n${out}")
  endif()
endfunction()

function(build_must_fail why expected)
  run(out code ${CMAKE_COMMAND} --build ${build} -j2)
  if(code EQUAL 0)
    message(FATAL_ERROR "The build passed ${why}:\n${out}")
  endif()
  string(FIND "${out}" "${expected}" at)
  if(at EQUAL -1)
    message(FATAL_ERROR "The build failed ${why}, but without \"${expected}\":\n${out}")
  endif()
endfunction()

function(restore file)
  file(READ ${FIXTURE}/${file} original)
  file(WRITE ${source}/${file} "${original}")
endfunction()

function(break_include file line)
  file(APPEND ${source}/${file} "${line}\n")
endfunction()

file(REMOVE_RECURSE ${SCRATCH})
file(COPY ${FIXTURE}/ DESTINATION ${source})

# A bad include present from the start: the configure step still passes, the build does not.
break_include(core/archive/archive.cpp "#include <core/catalog/catalog.h>")
run(out code ${CMAKE_COMMAND} -S ${source} -B ${build} -G ${GENERATOR} -DCMAKE_MAKE_PROGRAM=${MAKE_PROGRAM}
    -DCMAKE_CXX_COMPILER=${CXX_COMPILER} -DKORVEL_CMAKE_DIR=${KORVEL_CMAKE_DIR})
if(NOT code EQUAL 0)
  message(FATAL_ERROR "The fixture did not configure:\n${out}")
endif()
build_must_fail("with archive including the catalog"
  "core/archive/archive.cpp: core/archive may not include core/catalog/catalog.h, because core/catalog is not below core/archive.")
restore(core/archive/archive.cpp)
build_must_pass("on the good tree")

# One at a time, each into the tree that was built.
break_include(core/catalog/catalog.h "#include \"core/processing/planner.h\"")
build_must_fail("with the catalog including processing" "core/catalog/catalog.h: core/catalog may not include core/processing/planner.h")
restore(core/catalog/catalog.h)

break_include(widgets/widget.cpp "  #  include \"core/archive/archive.h\"")
build_must_fail("with a widget including the archive" "widgets/widget.cpp: widgets may not include core/archive/archive.h")
restore(widgets/widget.cpp)

break_include(platform/clock.h "#include <apps/main.h>")
build_must_fail("with the platform including an app" "platform/clock.h: platform may not include apps/main.h")
restore(platform/clock.h)

file(WRITE ${source}/core/ai/provider.h "#pragma once\n")
build_must_fail("with a subsystem no layer declares" "core/ai/provider.h is in no declared layer")
file(REMOVE_RECURSE ${source}/core/ai)

build_must_pass("once every include was mended")
