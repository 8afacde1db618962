# 32-bit Windows with MinGW-w64 (posix thread model), statically linked: the
# shipped program. Built only; Wine here runs 64-bit programs alone.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(QUILLGATE_MINGW_TRIPLET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
