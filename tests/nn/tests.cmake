# The nn tests re-implement the kernels' summation orders, so they must be
# compiled under the engine's own floating-point rules.
if(TARGET nn_tests)
  target_compile_options(nn_tests PRIVATE -ffp-contract=off -fno-fast-math -msse3)
endif()

# The exporter and the engine against PyTorch, through nn-predict; each case
# takes about a second. Only nn-predict is instrumented in sanitizer builds.
if(TARGET nn-predict)
  foreach(case mask lstm conv layers refusals)
    add_test(NAME nn_parity_${case}
             COMMAND /usr/bin/python3 ${PROJECT_SOURCE_DIR}/tools/nn/test_parity.py
                     --predict $<TARGET_FILE:nn-predict> --case ${case}
             WORKING_DIRECTORY ${PROJECT_SOURCE_DIR})
    set_tests_properties(nn_parity_${case} PROPERTIES ENVIRONMENT "OMP_NUM_THREADS=1" TIMEOUT 120)
  endforeach()
endif()

# No fused multiply-add in the nn objects, even compiled for this machine.
# Checks the sources, not this build's objects, so once (no sanitizer run).
find_program(STEMVOLTA_OBJDUMP NAMES objdump)
if(STEMVOLTA_OBJDUMP)
  add_test(NAME nn_no_fused_multiply_add
           COMMAND ${CMAKE_COMMAND} -DCXX=${CMAKE_CXX_COMPILER} -DOBJDUMP=${STEMVOLTA_OBJDUMP}
                   -DSOURCE_DIR=${PROJECT_SOURCE_DIR} -DWORK_DIR=${CMAKE_CURRENT_BINARY_DIR}/nn_fma_check
                   "-DOPTIONS=$<TARGET_PROPERTY:nn,COMPILE_OPTIONS>"
                   -P ${CMAKE_CURRENT_LIST_DIR}/fma_check.cmake)
  set_tests_properties(nn_no_fused_multiply_add PROPERTIES LABELS no-sanitize TIMEOUT 300)
endif()
