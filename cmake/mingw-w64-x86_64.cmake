# 64-bit Windows with MinGW-w64 (posix thread model), statically linked.
# Programs run under Wine through scripts/wine-run, with a Wine prefix private
# to the build folder; tests/CMakeLists.txt puts the test run in its Wine
# session (the fixture WineSession) when QUILLGATE_WINE_RUN is set.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(QUILLGATE_MINGW_TRIPLET x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)

get_filename_component(_quillgate_root "${CMAKE_CURRENT_LIST_DIR}/.." ABSOLUTE)
set(QUILLGATE_WINE_RUN "${_quillgate_root}/scripts/wine-run" "--prefix=${CMAKE_BINARY_DIR}/wineprefix")
set(CMAKE_CROSSCOMPILING_EMULATOR ${QUILLGATE_WINE_RUN})
