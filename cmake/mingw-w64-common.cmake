# Shared part of the MinGW-w64 cross toolchains. The including file sets
# CMAKE_SYSTEM_PROCESSOR and QUILLGATE_MINGW_TRIPLET first.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_VERSION 6.1)

# The posix thread model: std::thread, std::mutex and call_once need
# winpthreads, which the win32 thread model of GCC 12 does not provide.
set(CMAKE_C_COMPILER ${QUILLGATE_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUILLGATE_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${QUILLGATE_MINGW_TRIPLET}-windres)
set(CMAKE_AR ${QUILLGATE_MINGW_TRIPLET}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${QUILLGATE_MINGW_TRIPLET}-ranlib CACHE FILEPATH "")

set(CMAKE_FIND_ROOT_PATH /usr/${QUILLGATE_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The shipped program is one file: no libgcc, libstdc++ or winpthread DLLs
# next to it.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
