# The Windows layer for 32-bit Windows (i686-w64-mingw32), run by Wine's 32-bit loader: card
# reader vendors ship 32-bit termb.dll files, which only a 32-bit program can load.
set(CMAKE_SYSTEM_PROCESSOR i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
