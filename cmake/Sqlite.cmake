# cmake/Sqlite.cmake
# SQLite is not committed: the amalgamation comes from a pinned npm package,
# checked against the checksum in sqlite-package.sha256, and unpacked once into
# KESTREL_DEPS_DIR, which all builds of the tree share. Each build compiles it
# once as the static library `sqlite3`.
set(KESTREL_SQLITE_PACKAGE better-sqlite3)
set(KESTREL_SQLITE_PACKAGE_VERSION 12.4.1)
set(KESTREL_DEPS_DIR "${CMAKE_SOURCE_DIR}/build/deps" CACHE PATH "Where fetched sources are kept")

set(_tarball "${KESTREL_DEPS_DIR}/${KESTREL_SQLITE_PACKAGE}-${KESTREL_SQLITE_PACKAGE_VERSION}.tgz")
set(_srcdir "${KESTREL_DEPS_DIR}/sqlite-amalgamation")
file(READ "${CMAKE_CURRENT_LIST_DIR}/sqlite-package.sha256" _line)
string(REGEX MATCH "^[0-9a-f]+" _expected "${_line}")

if(NOT EXISTS "${_srcdir}/sqlite3.c")
  file(MAKE_DIRECTORY "${KESTREL_DEPS_DIR}")
  if(NOT EXISTS "${_tarball}")
    find_program(NPM_EXECUTABLE npm REQUIRED)
    execute_process(
      COMMAND "${NPM_EXECUTABLE}" pack "${KESTREL_SQLITE_PACKAGE}@${KESTREL_SQLITE_PACKAGE_VERSION}"
              --pack-destination "${KESTREL_DEPS_DIR}" --silent
      RESULT_VARIABLE _rc OUTPUT_QUIET)
    if(NOT _rc EQUAL 0 OR NOT EXISTS "${_tarball}")
      message(FATAL_ERROR "npm pack of ${KESTREL_SQLITE_PACKAGE}@${KESTREL_SQLITE_PACKAGE_VERSION} failed (${_rc})")
    endif()
  endif()
  file(SHA256 "${_tarball}" _actual)
  if(NOT _actual STREQUAL _expected)
    file(REMOVE "${_tarball}")
    message(FATAL_ERROR "SQLite package checksum mismatch: got ${_actual}, expected ${_expected}")
  endif()
  set(_unpack "${KESTREL_DEPS_DIR}/unpack")
  file(REMOVE_RECURSE "${_unpack}")
  file(ARCHIVE_EXTRACT INPUT "${_tarball}" DESTINATION "${_unpack}"
       PATTERNS package/deps/sqlite3/sqlite3.c package/deps/sqlite3/sqlite3.h)
  file(MAKE_DIRECTORY "${_srcdir}")
  file(RENAME "${_unpack}/package/deps/sqlite3/sqlite3.h" "${_srcdir}/sqlite3.h")
  # sqlite3.c last: its presence marks a complete unpack.
  file(RENAME "${_unpack}/package/deps/sqlite3/sqlite3.c" "${_srcdir}/sqlite3.c")
  file(REMOVE_RECURSE "${_unpack}")
endif()

add_library(sqlite3 STATIC "${_srcdir}/sqlite3.c")
target_include_directories(sqlite3 SYSTEM PUBLIC "${_srcdir}")
target_compile_definitions(sqlite3 PRIVATE SQLITE_THREADSAFE=1 SQLITE_OMIT_LOAD_EXTENSION
  # Recommended by SQLite for speed; none changes what this system uses.
  SQLITE_DEFAULT_MEMSTATUS=0 SQLITE_LIKE_DOESNT_MATCH_BLOBS SQLITE_MAX_EXPR_DEPTH=0
  SQLITE_OMIT_DEPRECATED SQLITE_OMIT_SHARED_CACHE SQLITE_USE_ALLOCA)
# The amalgamation is built optimised in every configuration and without our
# warnings or sanitizers: it is not our code and is slow when instrumented.
target_compile_options(sqlite3 PRIVATE -O2 -w)
if(NOT WIN32)
  find_package(Threads REQUIRED)
  target_link_libraries(sqlite3 PUBLIC Threads::Threads ${CMAKE_DL_LIBS} m)
endif()
