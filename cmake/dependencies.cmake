# Outside libraries. Natively they come from the system's packages; the
# Windows builds use static libraries that scripts/setup builds from Debian's
# source packages into build/deps/<triplet>/.
if(WIN32)
  set(QUILLGATE_DEPS_PREFIX "${PROJECT_SOURCE_DIR}/build/deps/${CMAKE_SYSTEM_PROCESSOR}" CACHE PATH "Cross-built dependencies")
  add_library(quillgate::expat STATIC IMPORTED GLOBAL)
  set_target_properties(quillgate::expat PROPERTIES
    IMPORTED_LOCATION "${QUILLGATE_DEPS_PREFIX}/lib/libexpat.a"
    INTERFACE_INCLUDE_DIRECTORIES "${QUILLGATE_DEPS_PREFIX}/include"
    INTERFACE_COMPILE_DEFINITIONS XML_STATIC)
else()
  find_package(EXPAT REQUIRED)
  add_library(quillgate::expat ALIAS EXPAT::EXPAT)
endif()
