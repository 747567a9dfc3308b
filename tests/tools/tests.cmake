# The model pipeline's scripts, run under the system python that has Debian's
# torch, numpy, scipy, soundfile and mido. Pure python: not rerun under the
# sanitizers.
set(STEMVOLTA_PYTHON /usr/bin/python3)
add_test(NAME tools_make_dataset
         COMMAND ${STEMVOLTA_PYTHON} ${PROJECT_SOURCE_DIR}/tests/tools/test_make_dataset.py
         WORKING_DIRECTORY ${PROJECT_SOURCE_DIR})
if(TARGET nn-predict)
  set(train_check --predict $<TARGET_FILE:nn-predict>)
endif()
add_test(NAME tools_train
         COMMAND ${STEMVOLTA_PYTHON} ${PROJECT_SOURCE_DIR}/tests/tools/test_train.py ${train_check}
         WORKING_DIRECTORY ${PROJECT_SOURCE_DIR})
set_tests_properties(tools_make_dataset tools_train PROPERTIES LABELS no-sanitize TIMEOUT 300)
