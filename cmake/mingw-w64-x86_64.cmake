# The Windows layer for 64-bit Windows (x86_64-w64-mingw32), run by Wine's 64-bit loader.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
