# Our compiler warnings live on one INTERFACE target, vorn_warnings, which every target defined in
# this checkout links privately: applied once all folders are read, so a new target cannot miss
# it, and code built from outside the checkout (GoogleTest's sources for Windows) keeps its own.
# VORN_WARNINGS_AS_ERRORS turns them into errors; CI sets it through the environment variable of
# the same name, so that every build .ci/run configures is held to it.
if(DEFINED ENV{VORN_WARNINGS_AS_ERRORS})
    set(_vorn_werror_default $ENV{VORN_WARNINGS_AS_ERRORS})
else()
    set(_vorn_werror_default OFF)
endif()
option(VORN_WARNINGS_AS_ERRORS "Treat compiler warnings as errors (on in CI)" ${_vorn_werror_default})

add_library(vorn_warnings INTERFACE)
if(MSVC)
    target_compile_options(vorn_warnings INTERFACE /W4 $<$<BOOL:${VORN_WARNINGS_AS_ERRORS}>:/WX>)
else()
    target_compile_options(vorn_warnings INTERFACE
        $<$<COMPILE_LANGUAGE:C,CXX>:-Wall -Wextra -Wno-missing-field-initializers>
        $<$<AND:$<COMPILE_LANGUAGE:C,CXX>,$<BOOL:${VORN_WARNINGS_AS_ERRORS}>>:-Werror>)
endif()

# Links vorn_warnings into every compiled target of `dir` and the folders below it that lie in
# this checkout.
function(vorn_apply_warnings dir)
    get_property(_targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
    foreach(_t ${_targets})
        get_target_property(_type ${_t} TYPE)
        get_target_property(_imported ${_t} IMPORTED)
        if(NOT _imported AND _type MATCHES "^(STATIC_LIBRARY|SHARED_LIBRARY|MODULE_LIBRARY|OBJECT_LIBRARY|EXECUTABLE)$")
            target_link_libraries(${_t} PRIVATE vorn_warnings)
        endif()
    endforeach()
    get_property(_subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
    foreach(_d ${_subdirs})
        cmake_path(IS_PREFIX PROJECT_SOURCE_DIR "${_d}" NORMALIZE _inside)
        if(_inside)
            vorn_apply_warnings(${_d})
        endif()
    endforeach()
endfunction()
