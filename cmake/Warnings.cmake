# Every target of ours links this: warnings are errors everywhere.
add_library(korvalin_warnings INTERFACE)
target_compile_options(korvalin_warnings INTERFACE
  -Wall -Wextra -Wshadow -Wconversion -Wsign-conversion -Werror)
