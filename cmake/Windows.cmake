# The Windows build (mingw-w64, see cmake/mingw-w64-x86_64.cmake): the platform layer in
# platform/win32/, the programs on it, and their tests, which scripts/test-windows.sh runs under
# Wine. Qt is not used here: the Qt half of the client builds on Windows with an MSVC Qt.

# Wide-character Windows calls only: no text ever passes through the ANSI code page.
add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)

set(CMAKE_RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
set(CMAKE_LIBRARY_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/lib)
set(CMAKE_ARCHIVE_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/lib)

enable_language(RC)
add_subdirectory(common)
add_subdirectory(platform/win32)

# The display-free core that is standard C++ and so builds here too.
add_library(vorn_remote_rules STATIC services/probes/RemoteControlRules.cpp)
target_link_libraries(vorn_remote_rules PUBLIC vorn_platform_process)
add_library(vorn_ini_rules STATIC services/settings/IniText.cpp)
target_include_directories(vorn_ini_rules PUBLIC ${PROJECT_SOURCE_DIR})

# The archive layer, on minizip's reading side built from third_party/minizip (Debian ships
# minizip only for Linux) and zlib from Debian's libz-mingw-w64-dev, linked statically so the
# programs need no zlib1.dll.
find_library(VORN_MINGW_ZLIB NAMES libz.a REQUIRED)
add_library(vorn_minizip STATIC third_party/minizip/unzip.c third_party/minizip/ioapi.c)
target_include_directories(vorn_minizip SYSTEM PUBLIC ${PROJECT_SOURCE_DIR}/third_party/minizip)
target_link_libraries(vorn_minizip PUBLIC ${VORN_MINGW_ZLIB})
# Upstream's code as it is: its warnings are not ours to fix.
target_compile_options(vorn_minizip PRIVATE -w)
add_subdirectory(models/archive)
# The readiness check, vornclient-check.exe, from the same source as on Linux.
add_subdirectory(check)

if(VORN_BUILD_TESTS)
    enable_testing()
    # GoogleTest from Debian's source package (googletest), built with the cross compiler.
    set(VORN_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources")
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
    add_subdirectory(${VORN_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
    foreach(_t gtest gtest_main gmock gmock_main)
        target_compile_options(${_t} PRIVATE -w)
    endforeach()
    add_subdirectory(tests/windows)
endif()

# The card reader simulator as termb.dll (stdcall exports, undecorated names also for a 32-bit
# build), in the build folder beside the programs, as the vendor's library sits in a client folder.
add_library(termb SHARED services/card/simulator/TermbSimulator.cpp
    services/card/simulator/SimDescription.cpp)
set_target_properties(termb PROPERTIES PREFIX "" OUTPUT_NAME termb
    RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
target_link_options(termb PRIVATE -Wl,--kill-at)
vorn_check_links()
vorn_apply_warnings(${PROJECT_SOURCE_DIR})
