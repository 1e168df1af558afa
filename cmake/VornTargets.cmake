# Libraries are globbed per folder so that adding a source file never needs a CMake edit.
#   vorn_add_library(<name> DIR <folder> [SOURCES <extra files>] [LIBS <link libs>])
function(vorn_add_library name)
    cmake_parse_arguments(A "" "DIR" "SOURCES;LIBS" ${ARGN})
    file(GLOB srcs CONFIGURE_DEPENDS
        ${CMAKE_CURRENT_SOURCE_DIR}/${A_DIR}/*.cpp
        ${CMAKE_CURRENT_SOURCE_DIR}/${A_DIR}/*.h
        ${CMAKE_CURRENT_SOURCE_DIR}/${A_DIR}/*.qrc)
    add_library(${name} STATIC ${srcs} ${A_SOURCES})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
    target_link_libraries(${name} PUBLIC ${A_LIBS})
endfunction()

# One GoogleTest executable per *_test.cpp in a folder, linked to the given libraries.
#   vorn_add_unit_tests(DIR <folder> LIBS <libs> [LABELS <labels>])
function(vorn_add_unit_tests)
    cmake_parse_arguments(A "" "DIR" "LIBS;LABELS" ${ARGN})
    file(GLOB tests CONFIGURE_DEPENDS ${A_DIR}/*_test.cpp)
    foreach(src ${tests})
        get_filename_component(stem ${src} NAME_WE)
        add_executable(${stem} ${src})
        target_link_libraries(${stem} PRIVATE ${A_LIBS} GTest::gtest GTest::gtest_main GTest::gmock)
        set_target_properties(${stem} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
        add_test(NAME ${stem} COMMAND ${stem})
        set_tests_properties(${stem} PROPERTIES LABELS "unit;${A_LABELS}"
            ENVIRONMENT "QT_QPA_PLATFORM=offscreen;VORN_SOURCE_DIR=${PROJECT_SOURCE_DIR};VORN_BUILD_DIR=${CMAKE_BINARY_DIR}")
    endforeach()
endfunction()

# Adds every immediate sub-folder of the current folder that has a CMakeLists.txt.
macro(vorn_add_subfolders)
    file(GLOB _children LIST_DIRECTORIES true ${CMAKE_CURRENT_SOURCE_DIR}/*)
    foreach(_child ${_children})
        if(IS_DIRECTORY ${_child} AND EXISTS ${_child}/CMakeLists.txt)
            add_subdirectory(${_child})
        endif()
    endforeach()
endmacro()
