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
if(MINGW AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  # GCC 12 warns wrongly about overlapping copies inside std::string when it
  # inlines deeply (GCC bug 105329).
  target_compile_options(quorvel_options INTERFACE -Wno-restrict)
endif()
if(QUORVEL_SANITIZE)
  target_compile_options(quorvel_options INTERFACE -fsanitize=${QUORVEL_SANITIZE} -fno-omit-frame-pointer
                         -fno-sanitize-recover=all)
  target_link_options(quorvel_options INTERFACE -fsanitize=${QUORVEL_SANITIZE})
endif()

# quorvel_library(name SOURCES file... DEPS target...)
# A static library of the listed sources with the project's warnings; its
# headers are included as "<folder>/<file>.h" from src/.
function(quorvel_library name)
  cmake_parse_arguments(L "" "" "SOURCES;DEPS;PRIVATE_DEPS" ${ARGN})
  add_library(${name} STATIC ${L_SOURCES})
  target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC quorvel_options ${L_DEPS} PRIVATE ${L_PRIVATE_DEPS})
endfunction()
