# Compiles every nn source with the nn library's own options plus
# -march=native -mfma and fails if the disassembly holds a fused multiply-add:
# fused instructions round once where the engine's summation order rounds
# twice, so they would change the models' floats.
#
#   cmake -DCXX=... -DOBJDUMP=... -DSOURCE_DIR=... -DWORK_DIR=... "-DOPTIONS=a;b" -P fma_check.cmake
#
# A control file compiled without -ffp-contract=off must show the instruction,
# which proves that the compiler would fuse here and that the search finds it.

foreach(var CXX OBJDUMP SOURCE_DIR WORK_DIR)
  if(NOT ${var})
    message(FATAL_ERROR "fma_check: ${var} not set")
  endif()
endforeach()

file(REMOVE_RECURSE ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR})
set(flags -std=c++17 -O3 -march=native -mfma ${OPTIONS} -I${SOURCE_DIR})
set(fused_regex "vfn?m(add|sub)(add|sub)?[0-9]*[ps][sd]")

function(compile src obj)
  execute_process(COMMAND ${CXX} ${ARGN} -c ${src} -o ${obj}
                  RESULT_VARIABLE rc ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "fma_check: compiling ${src} failed:\n${err}")
  endif()
endfunction()

function(count_fused obj out_var)
  execute_process(COMMAND ${OBJDUMP} -d --no-show-raw-insn ${obj}
                  OUTPUT_VARIABLE dis RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "fma_check: objdump of ${obj} failed")
  endif()
  string(REGEX MATCHALL "${fused_regex}" hits "${dis}")
  list(LENGTH hits n)
  set(${out_var} ${n} PARENT_SCOPE)
endfunction()

# Control: a contractible expression, compiled with contraction allowed.
set(control ${WORK_DIR}/control.cpp)
file(WRITE ${control} "float fused(float a, float b, float c) { return a * b + c; }\n")
set(control_flags ${flags})
list(REMOVE_ITEM control_flags -ffp-contract=off)
compile(${control} ${WORK_DIR}/control.o ${control_flags} -ffp-contract=fast)
count_fused(${WORK_DIR}/control.o control_hits)
if(control_hits EQUAL 0)
  message(FATAL_ERROR "fma_check: the control shows no fused instruction; the check proves nothing")
endif()

file(GLOB sources ${SOURCE_DIR}/nn/*.cpp)
list(LENGTH sources source_count)
if(source_count EQUAL 0)
  message(FATAL_ERROR "fma_check: no nn sources under ${SOURCE_DIR}/nn")
endif()
set(bad "")
foreach(src ${sources})
  get_filename_component(name ${src} NAME_WE)
  compile(${src} ${WORK_DIR}/${name}.o ${flags})
  count_fused(${WORK_DIR}/${name}.o n)
  if(n GREATER 0)
    string(APPEND bad " ${name}(${n})")
  endif()
endforeach()
file(REMOVE_RECURSE ${WORK_DIR})
if(bad)
  message(FATAL_ERROR "fma_check: fused multiply-add instructions in:${bad}")
endif()
message(STATUS "fma_check: ${source_count} nn sources, no fused multiply-add (control: ${control_hits})")
