# One interface target carries the warnings and the sanitizer switches, so every
# library, program and test is built the same way.
option(QUORVEL_WERROR "Treat warnings as errors" OFF)
set(QUORVEL_SANITIZE "" CACHE STRING "Sanitizers: empty, 'address,undefined' or 'thread'")

add_library(quorvel_options INTERFACE)
target_compile_features(quorvel_options INTERFACE cxx_std_20)
target_compile_options(quorvel_options INTERFACE -Wall -Wextra -Wpedantic -Wnon-virtual-dtor)
if(QUORVEL_WERROR)
  target_compile_options(quorvel_options INTERFACE -Werror)
endif()
if(QUORVEL_SANITIZE)
  target_compile_options(quorvel_options INTERFACE -fsanitize=${QUORVEL_SANITIZE} -fno-omit-frame-pointer
                         -fno-sanitize-recover=all)
  target_link_options(quorvel_options INTERFACE -fsanitize=${QUORVEL_SANITIZE})
endif()
