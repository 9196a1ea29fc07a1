# korvalin_sanitize carries AddressSanitizer + UndefinedBehaviorSanitizer when
# KORVALIN_SANITIZE is on, and the fuzzer instrumentation when KORVALIN_FUZZ is.
add_library(korvalin_sanitize INTERFACE)
if(KORVALIN_SANITIZE OR KORVALIN_FUZZ)
  target_compile_options(korvalin_sanitize INTERFACE
    -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer -g)
  target_link_options(korvalin_sanitize INTERFACE -fsanitize=address,undefined)
endif()
if(KORVALIN_FUZZ)
  target_compile_options(korvalin_sanitize INTERFACE -fsanitize=fuzzer-no-link)
endif()
