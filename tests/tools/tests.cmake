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

# The offline renderer (tools/render): C++ tests of the render road and its
# command line.
if(TARGET stemvolta_render_lib)
  stemvolta_tests(tools/render DEPS stemvolta_render_lib)
endif()

# The model road end to end on two short songs: dataset, stemvolta-export,
# one epoch of training, the written models run by the engine.
if(TARGET stemvolta-export AND TARGET nn-predict)
  add_test(NAME tools_smoke_road
           COMMAND ${STEMVOLTA_PYTHON} ${PROJECT_SOURCE_DIR}/tests/tools/test_smoke_road.py
                   --export $<TARGET_FILE:stemvolta-export> --predict $<TARGET_FILE:nn-predict>
           WORKING_DIRECTORY ${PROJECT_SOURCE_DIR})
  set_tests_properties(tools_smoke_road PROPERTIES LABELS no-sanitize TIMEOUT 300)
endif()

# evaluate.py: its SDR scoring, and the whole road through stemvolta-render on
# a tiny synthetic split.
if(TARGET stemvolta-render)
  add_test(NAME tools_evaluate
           COMMAND ${STEMVOLTA_PYTHON} ${PROJECT_SOURCE_DIR}/tests/tools/test_evaluate.py
                   --render $<TARGET_FILE:stemvolta-render>
           WORKING_DIRECTORY ${PROJECT_SOURCE_DIR})
  set_tests_properties(tools_evaluate PROPERTIES LABELS no-sanitize TIMEOUT 120)
endif()
