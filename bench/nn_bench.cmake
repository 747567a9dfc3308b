# OpenBLAS is the yardstick of this benchmark only; nothing else links it.
find_library(OPENBLAS openblas REQUIRED)
target_link_libraries(nn_bench PRIVATE ${OPENBLAS})
