# SPDX-License-Identifier: MIT
# varno_build_number(<out> <version> <given>)
# The build number: CFBundleVersion in the bundle and the analytics "app_build". It
# is <given> when a packager passes one (a positive whole number), else
# MAJOR * 1000000 + MINOR * 1000 + PATCH, which grows with every version as long as
# minor and patch stay below 1000 (0.1.0 is 1000, 1.10.0 is 1010000, 2.0.0 is 2000000).
function(varno_build_number out version given)
    if(NOT "${given}" STREQUAL "")
        string(LENGTH "${given}" digits)
        if(NOT "${given}" MATCHES "^[1-9][0-9]*$" OR digits GREATER 18)
            message(FATAL_ERROR "VARNO_BUILD_NUMBER must be a positive whole number of at "
                                "most 18 digits, not \"${given}\"")
        endif()
        set(${out} "${given}" PARENT_SCOPE)
        return()
    endif()
    if(NOT "${version}" MATCHES "^([0-9]+)\\.([0-9]+)\\.([0-9]+)$")
        message(FATAL_ERROR "The project version must be MAJOR.MINOR.PATCH, not \"${version}\"")
    endif()
    set(major ${CMAKE_MATCH_1})
    set(minor ${CMAKE_MATCH_2})
    set(patch ${CMAKE_MATCH_3})
    if(minor GREATER_EQUAL 1000 OR patch GREATER_EQUAL 1000)
        message(FATAL_ERROR "Version ${version}: minor and patch must stay below 1000 for the "
                            "build number to grow with the version; pass VARNO_BUILD_NUMBER")
    endif()
    math(EXPR number "${major} * 1000000 + ${minor} * 1000 + ${patch}")
    set(${out} "${number}" PARENT_SCOPE)
endfunction()
