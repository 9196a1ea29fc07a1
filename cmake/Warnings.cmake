# Every target of ours links this. The warnings are always on; the test
# command builds with KORVALIN_WERROR=ON (scripts/build.sh), so that a warning
# fails the tests, while a user's or a packager's build with another compiler
# or optimisation level never stops on a compiler's false warning.
option(KORVALIN_WERROR "Treat compiler warnings as errors" OFF)
add_library(korvalin_warnings INTERFACE)
target_compile_options(korvalin_warnings INTERFACE
  -Wall -Wextra -Wshadow -Wconversion -Wsign-conversion)
if(KORVALIN_WERROR)
  target_compile_options(korvalin_warnings INTERFACE -Werror)
endif()
# GCC 12 and 13 at -O3 warn of overlapping copies inside std::string that
# cannot happen (GCC bug 105329): shown, but never fatal.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_GREATER_EQUAL 12)
  target_compile_options(korvalin_warnings INTERFACE -Wno-error=restrict)
endif()
