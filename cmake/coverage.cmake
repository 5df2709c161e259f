# Coverage build (scripts/coverage.sh): instrumented, unoptimised code whose
# coverage notes keep the real source paths. The later prefix maps win, so
# they undo the reproducibility maps that gcov cannot follow.
option(LAUNCHER_COVERAGE "Instrument the code for gcov (scripts/coverage.sh)" OFF)
if(LAUNCHER_COVERAGE)
    add_compile_options(--coverage -O0
        -ffile-prefix-map=${CMAKE_SOURCE_DIR}=${CMAKE_SOURCE_DIR}
        -ffile-prefix-map=${CMAKE_BINARY_DIR}=${CMAKE_BINARY_DIR})
    add_link_options(--coverage)
endif()
