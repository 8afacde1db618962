# Outside libraries. Expat is a static library that scripts/setup builds for
# every target from one Debian source package, into build/deps/<target>/
# (x86_64 and i686 for Windows, linux-x86_64 and linux-i686 for Linux), so
# every build parses alike and the system's own Expat plays no part. The
# Windows builds and the 32-bit Linux build take GoogleTest from there too.
if(WIN32)
  set(quillgate_deps_target ${CMAKE_SYSTEM_PROCESSOR})
else()
  set(quillgate_deps_target linux-${CMAKE_SYSTEM_PROCESSOR})
endif()
set(QUILLGATE_DEPS_PREFIX "${PROJECT_SOURCE_DIR}/build/deps/${quillgate_deps_target}"
    CACHE PATH "Dependencies built by scripts/setup")
if(NOT EXISTS "${QUILLGATE_DEPS_PREFIX}/lib/libexpat.a")
  message(FATAL_ERROR "${QUILLGATE_DEPS_PREFIX}/lib/libexpat.a is missing; run scripts/setup")
endif()
add_library(quillgate::expat STATIC IMPORTED GLOBAL)
set_target_properties(quillgate::expat PROPERTIES
  IMPORTED_LOCATION "${QUILLGATE_DEPS_PREFIX}/lib/libexpat.a"
  INTERFACE_INCLUDE_DIRECTORIES "${QUILLGATE_DEPS_PREFIX}/include"
  INTERFACE_COMPILE_DEFINITIONS XML_STATIC)
if(CMAKE_CROSSCOMPILING)
  # The toolchain searches its own sysroot only; the dependency folder is a
  # second root, so GoogleTest's package files are found there.
  list(APPEND CMAKE_FIND_ROOT_PATH "${QUILLGATE_DEPS_PREFIX}")
else()
  # Peers for the benchmarks and the comparison tests; optional, so a
  # machine without them still builds the runtime and its own tests.
  find_package(benchmark QUIET)
  find_package(pugixml QUIET)
  find_package(tinyxml2 QUIET)
endif()
