# Outside libraries. Natively they come from the system's packages; the
# Windows builds use static libraries that scripts/setup builds from Debian's
# sources into build/deps/<processor>/ (x86_64 or i686).
if(WIN32)
  set(QUILLGATE_DEPS_PREFIX "${PROJECT_SOURCE_DIR}/build/deps/${CMAKE_SYSTEM_PROCESSOR}"
      CACHE PATH "Cross-built dependencies")
  if(NOT EXISTS "${QUILLGATE_DEPS_PREFIX}/lib/libexpat.a")
    message(FATAL_ERROR "${QUILLGATE_DEPS_PREFIX}/lib/libexpat.a is missing; run scripts/setup")
  endif()
  # The toolchain searches the MinGW sysroot only; the dependency folder is a
  # second root, so GoogleTest's package files are found there.
  list(APPEND CMAKE_FIND_ROOT_PATH "${QUILLGATE_DEPS_PREFIX}")
  add_library(quillgate::expat STATIC IMPORTED GLOBAL)
  set_target_properties(quillgate::expat PROPERTIES
    IMPORTED_LOCATION "${QUILLGATE_DEPS_PREFIX}/lib/libexpat.a"
    INTERFACE_INCLUDE_DIRECTORIES "${QUILLGATE_DEPS_PREFIX}/include"
    INTERFACE_COMPILE_DEFINITIONS XML_STATIC)
else()
  find_package(EXPAT REQUIRED)
  add_library(quillgate::expat ALIAS EXPAT::EXPAT)

  # Peers for the benchmarks and the comparison tests; optional, so a
  # machine without them still builds the runtime and its own tests.
  find_package(benchmark QUIET)
  find_package(pugixml QUIET)
  find_package(tinyxml2 QUIET)
endif()
