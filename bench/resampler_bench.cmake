# libsamplerate is the yardstick of this benchmark only; nothing else links it.
find_library(SAMPLERATE_LIBRARY samplerate REQUIRED)
find_path(SAMPLERATE_INCLUDE_DIR samplerate.h REQUIRED)
target_link_libraries(resampler_bench PRIVATE ${SAMPLERATE_LIBRARY})
target_include_directories(resampler_bench PRIVATE ${SAMPLERATE_INCLUDE_DIR})
