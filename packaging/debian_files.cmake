# Writes debian/changelog, debian/control and debian/copyright of a source
# tree from their .in templates, with the version, the homepage and the
# maintainer's address of the tree's CMakeLists.txt, so the package says what
# the programs say:
#
#     cmake -D TREE=<source tree> [-D FIRST_YEAR=<year>] -P packaging/debian_files.cmake
#
# The changelog's date is $SOURCE_DATE_EPOCH when set, else now; the
# copyright runs from FIRST_YEAR (the year of the first commit) to that date.
if(NOT TREE)
  message(FATAL_ERROR "usage: cmake -D TREE=<source tree> -P debian_files.cmake")
endif()

file(READ ${TREE}/CMakeLists.txt top)
string(REGEX MATCH "project\\(Quorvel[ \t\r\n]+VERSION[ \t\r\n]+([0-9.]+)" found "${top}")
set(QUORVEL_VERSION ${CMAKE_MATCH_1})
string(REGEX MATCH "HOMEPAGE_URL[ \t\r\n]+\"([^\"]+)\"" found "${top}")
set(QUORVEL_HOMEPAGE ${CMAKE_MATCH_1})
string(REGEX MATCH "set\\(QUORVEL_AUTHOR_EMAIL[ \t\r\n]+\"([^\"]+)\"\\)" found "${top}")
set(QUORVEL_AUTHOR_EMAIL ${CMAKE_MATCH_1})
foreach(value QUORVEL_VERSION QUORVEL_HOMEPAGE QUORVEL_AUTHOR_EMAIL)
  if(NOT ${value})
    message(FATAL_ERROR "${TREE}/CMakeLists.txt: ${value} not found")
  endif()
endforeach()

string(TIMESTAMP QUORVEL_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
string(TIMESTAMP last_year "%Y" UTC)
if(FIRST_YEAR AND NOT FIRST_YEAR STREQUAL last_year)
  set(QUORVEL_YEARS "${FIRST_YEAR}-${last_year}")
else()
  set(QUORVEL_YEARS "${last_year}")
endif()

foreach(name changelog control copyright)
  configure_file(${TREE}/debian/${name}.in ${TREE}/debian/${name} @ONLY)
endforeach()
message(STATUS "debian/: quorvel ${QUORVEL_VERSION}-1")
