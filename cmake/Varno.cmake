# SPDX-License-Identifier: MIT
# varno_library(<target> <folder> [DEPS ...])
# One static library per source folder. Sources are the folder's .cpp/.h files;
# per-OS files (Name_linux.cpp, Name_mac.mm, Name_posix.cpp for both, Name_nonlinux.cpp
# for all but Linux, Name_none.cpp for the rest) are picked by platform.
function(varno_library target folder)
    cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
    file(GLOB sources CONFIGURE_DEPENDS
        ${PROJECT_SOURCE_DIR}/${folder}/*.cpp
        ${PROJECT_SOURCE_DIR}/${folder}/*.h
        ${PROJECT_SOURCE_DIR}/${folder}/*.mm)
    varno_filter_platform_sources(sources)
    list(FILTER sources INCLUDE REGEX "\\.(cpp|mm)$")
    file(GLOB headers CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/${folder}/*.h)
    add_library(${target} STATIC ${sources} ${headers})
    target_include_directories(${target} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${target} PUBLIC ${ARG_DEPS})
    target_compile_options(${target} PRIVATE -Wall -Wextra -Wno-unused-parameter)
endfunction()

# Keeps the sources for this system: *_linux, *_posix (Linux and macOS), *_mac,
# *_nonlinux (macOS and the rest) and *_none (neither Linux nor macOS).
function(varno_filter_platform_sources var)
    set(kept)
    foreach(file IN LISTS ${var})
        get_filename_component(name ${file} NAME_WE)
        if(name MATCHES "_linux$")
            if(CMAKE_SYSTEM_NAME STREQUAL "Linux")
                list(APPEND kept ${file})
            endif()
        elseif(name MATCHES "_posix$")
            if(CMAKE_SYSTEM_NAME STREQUAL "Linux" OR APPLE)
                list(APPEND kept ${file})
            endif()
        elseif(name MATCHES "_mac$")
            if(APPLE)
                list(APPEND kept ${file})
            endif()
        elseif(name MATCHES "_nonlinux$")
            if(NOT CMAKE_SYSTEM_NAME STREQUAL "Linux")
                list(APPEND kept ${file})
            endif()
        elseif(name MATCHES "_none$")
            if(NOT CMAKE_SYSTEM_NAME STREQUAL "Linux" AND NOT APPLE)
                list(APPEND kept ${file})
            endif()
        else()
            list(APPEND kept ${file})
        endif()
    endforeach()
    set(${var} ${kept} PARENT_SCOPE)
endfunction()

# varno_test(<name> <folder> [DEPS ...]): one GoogleTest executable per tests/ folder.
function(varno_test name folder)
    cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
    file(GLOB sources CONFIGURE_DEPENDS
        ${PROJECT_SOURCE_DIR}/${folder}/*.cpp
        ${PROJECT_SOURCE_DIR}/${folder}/*.h)
    varno_filter_platform_sources(sources)
    add_executable(${name} ${sources})
    target_link_libraries(${name} PRIVATE varno_test_support ${ARG_DEPS})
    target_compile_options(${name} PRIVATE -Wall -Wextra -Wno-unused-parameter)
    gtest_discover_tests(${name}
        DISCOVERY_TIMEOUT 60
        PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen" TIMEOUT 180)
endfunction()
