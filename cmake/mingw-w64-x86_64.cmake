# 64-bit Windows with MinGW-w64 (posix thread model), statically linked.
# Programs run under Wine through scripts/wine-run, with a Wine prefix private
# to the build folder.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(QUILLGATE_MINGW_TRIPLET x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)

get_filename_component(_quillgate_root "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
set(CMAKE_CROSSCOMPILING_EMULATOR "${_quillgate_root}/scripts/wine-run;--prefix=${CMAKE_BINARY_DIR}/wineprefix")
