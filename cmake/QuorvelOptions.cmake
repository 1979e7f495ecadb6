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

# quorvel_library(name DIR dir [EXCLUDE file...] DEPS target...)
# A static library made of every .cpp in dir, so several pieces of work can
# add files without touching the same list. A library without sources yet is
# an interface target with the same dependencies.
function(quorvel_library name)
  cmake_parse_arguments(L "" "DIR" "EXCLUDE;DEPS;SOURCES" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${L_DIR}/*.cpp)
  foreach(ex ${L_EXCLUDE})
    list(REMOVE_ITEM sources ${L_DIR}/${ex})
  endforeach()
  list(APPEND sources ${L_SOURCES})
  if(sources)
    add_library(${name} STATIC ${sources})
    target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR}/src)
    target_link_libraries(${name} PUBLIC quorvel_options ${L_DEPS})
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${CMAKE_SOURCE_DIR}/src)
    target_link_libraries(${name} INTERFACE quorvel_options ${L_DEPS})
  endif()
endfunction()
