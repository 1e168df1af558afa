# Every target names its files one by one: a file that is not listed is not built, and a listed
# file that does not exist (a typo, a move) stops the configure step. A new .cpp/.h goes into the
# list of its folder's CMakeLists.txt; a new test is registered there by name.

# Stops the configure step unless every file exists (relative names: the current source folder).
function(vorn_require_files)
    foreach(_f ${ARGN})
        if(IS_ABSOLUTE "${_f}")
            set(_path "${_f}")
        else()
            set(_path "${CMAKE_CURRENT_SOURCE_DIR}/${_f}")
        endif()
        if(NOT EXISTS "${_path}")
            message(FATAL_ERROR "${CMAKE_CURRENT_LIST_FILE}: listed file ${_f} does not exist")
        endif()
    endforeach()
endfunction()

# Our own libraries named in a link list must exist as targets; a misspelt name would otherwise
# become "-lvorn_..." and fail only at link time. Checked once every folder has been read.
function(vorn_note_links)
    foreach(_lib ${ARGN})
        if(_lib MATCHES "^vorn_")
            set_property(GLOBAL APPEND PROPERTY VORN_LINKED_NAMES "${_lib}@${CMAKE_CURRENT_LIST_FILE}")
        endif()
    endforeach()
endfunction()

function(vorn_check_links)
    get_property(_names GLOBAL PROPERTY VORN_LINKED_NAMES)
    foreach(_entry ${_names})
        string(REPLACE "@" ";" _parts "${_entry}")
        list(GET _parts 0 _lib)
        list(GET _parts 1 _file)
        if(NOT TARGET ${_lib})
            message(FATAL_ERROR "${_file}: links ${_lib}, which no CMakeLists.txt defines")
        endif()
    endforeach()
endfunction()

# Each library is seen through an include folder of its own in the build tree,
# <build>/include/<target>/, holding a link to each header it lists at the header's path from the
# checkout root. Includes keep that form ("services/probes/CameraList.h"), but a source finds a
# header only through the libraries it links: an include of a layer that is not linked (a
# forbidden direction) fails to compile.
# Where symbolic links cannot be made (Windows without the right to make them), a library sees the
# whole checkout instead: its includes build, unchecked; the check is the Linux build's.
#   vorn_export_headers(<target> <PUBLIC|INTERFACE|PRIVATE> <files relative to the current folder>)
function(vorn_export_headers target scope)
    set(_dir ${CMAKE_BINARY_DIR}/include/${target})
    file(REMOVE_RECURSE ${_dir})
    foreach(_f ${ARGN})
        if(NOT _f MATCHES "\\.(h|hpp)$")
            continue()
        endif()
        get_filename_component(_abs ${_f} ABSOLUTE BASE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
        file(RELATIVE_PATH _rel ${PROJECT_SOURCE_DIR} ${_abs})
        get_filename_component(_parent ${_dir}/${_rel} DIRECTORY)
        file(MAKE_DIRECTORY ${_parent})
        file(CREATE_LINK ${_abs} ${_dir}/${_rel} RESULT _made SYMBOLIC)
        if(NOT _made EQUAL 0)
            get_property(_told GLOBAL PROPERTY VORN_UNCHECKED_INCLUDES)
            if(NOT _told)
                message(WARNING "Symbolic links cannot be made in ${CMAKE_BINARY_DIR} (${_made}): "
                    "libraries see the whole checkout, and their includes are not checked")
                set_property(GLOBAL PROPERTY VORN_UNCHECKED_INCLUDES ON)
            endif()
            target_include_directories(${target} ${scope} ${PROJECT_SOURCE_DIR})
            return()
        endif()
    endforeach()
    target_include_directories(${target} ${scope} ${_dir})
endfunction()

# A static library of the listed sources (headers included), or a header-only one (INTERFACE).
#   vorn_library(<name> [INTERFACE] SOURCES <files> [LIBS <what its headers need>]
#                [PRIVATE_LIBS <what only its sources need>])
function(vorn_library name)
    cmake_parse_arguments(A "INTERFACE" "" "SOURCES;LIBS;PRIVATE_LIBS" ${ARGN})
    if(NOT A_SOURCES)
        message(FATAL_ERROR "vorn_library(${name}): no SOURCES")
    endif()
    vorn_require_files(${A_SOURCES})
    vorn_note_links(${A_LIBS} ${A_PRIVATE_LIBS})
    if(A_INTERFACE)
        add_library(${name} INTERFACE ${A_SOURCES})
        vorn_export_headers(${name} INTERFACE ${A_SOURCES})
        target_link_libraries(${name} INTERFACE ${A_LIBS})
    else()
        add_library(${name} STATIC ${A_SOURCES})
        vorn_export_headers(${name} PUBLIC ${A_SOURCES})
        target_link_libraries(${name} PUBLIC ${A_LIBS} PRIVATE ${A_PRIVATE_LIBS})
    endif()
endfunction()

# One GoogleTest program, <name>.cpp in the current folder (plus helper SOURCES), linked to the
# libraries it tests, registered in CTest under <name> with the label "unit" (and LABELS).
#   vorn_unit_test(<name> LIBS <libs> [SOURCES <helpers>] [LABELS <labels>] [TIMEOUT <s>]
#                  [ENVIRONMENT <VAR=value>...] [OWN_MAIN])
function(vorn_unit_test name)
    cmake_parse_arguments(A "OWN_MAIN" "TIMEOUT" "LIBS;SOURCES;LABELS;ENVIRONMENT" ${ARGN})
    if(NOT A_LIBS)
        message(FATAL_ERROR "vorn_unit_test(${name}): name the libraries it tests (LIBS)")
    endif()
    vorn_require_files(${name}.cpp ${A_SOURCES})
    vorn_note_links(${A_LIBS})
    add_executable(${name} ${name}.cpp ${A_SOURCES})
    target_link_libraries(${name} PRIVATE ${A_LIBS} GTest::gtest GTest::gmock)
    if(NOT A_OWN_MAIN)
        target_link_libraries(${name} PRIVATE GTest::gtest_main)
    endif()
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES LABELS "unit;${A_LABELS}"
        ENVIRONMENT "QT_QPA_PLATFORM=offscreen;VORN_SOURCE_DIR=${PROJECT_SOURCE_DIR};VORN_BUILD_DIR=${CMAKE_BINARY_DIR};${A_ENVIRONMENT}")
    if(A_TIMEOUT)
        set_tests_properties(${name} PROPERTIES TIMEOUT ${A_TIMEOUT})
    endif()
endfunction()
