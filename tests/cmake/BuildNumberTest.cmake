# SPDX-License-Identifier: MIT
# cmake -P BuildNumberTest.cmake: the build number grows with the version, takes the
# packager's number, and refuses what it cannot order.
include(${CMAKE_CURRENT_LIST_DIR}/../../cmake/BuildNumber.cmake)

# One probe per process, since a refusal ends the script.
if(DEFINED PROBE_VERSION)
    varno_build_number(number "${PROBE_VERSION}" "${PROBE_GIVEN}")
    message("build number: ${number}")
    return()
endif()

set(failures 0)
function(probe version given expected)
    execute_process(COMMAND ${CMAKE_COMMAND} -DPROBE_VERSION=${version} -DPROBE_GIVEN=${given}
                            -P ${CMAKE_CURRENT_LIST_FILE}
                    RESULT_VARIABLE status OUTPUT_VARIABLE out ERROR_VARIABLE err)
    if(expected STREQUAL "refused")
        set(ok FALSE)
        if(NOT status EQUAL 0 AND err MATCHES "VARNO_BUILD_NUMBER|MAJOR.MINOR.PATCH")
            set(ok TRUE)
        endif()
    else()
        set(ok FALSE)
        if(status EQUAL 0 AND err MATCHES "build number: ${expected}\n")
            set(ok TRUE)
        endif()
    endif()
    if(NOT ok)
        message(SEND_ERROR "${version} / \"${given}\": expected ${expected}, got ${status}: ${err}")
    endif()
endfunction()

# Versions in ascending order, including those whose digits, run together, collide
# (1.10.0 and 11.0.0) or sort backwards (1.10.0 before 2.0.0).
set(ascending 0.0.1 0.1.0 0.1.1 0.2.0 0.10.0 1.0.0 1.0.10 1.1.0 1.9.9 1.10.0 1.99.999 2.0.0
              10.0.0 11.0.0 100.0.0)
set(previous -1)
foreach(version IN LISTS ascending)
    varno_build_number(number ${version} "")
    if(NOT number GREATER previous)
        message(SEND_ERROR "${version} gives ${number}, not above the previous ${previous}")
    endif()
    set(previous ${number})
endforeach()

probe(0.1.0 "" 1000)
probe(1.10.0 "" 1010000)
probe(11.0.0 "" 11000000)
probe(0.1.0 4711 4711)
probe(0.1.0 000000000000000001 refused) # leading zeros would not sort
probe(0.1.0 12a refused)
probe(0.1.0 -3 refused)
probe(0.1.0 1234567890123456789 refused)
probe(1.1000.0 "" refused)
probe(1.0.1000 "" refused)
probe(1.0 "" refused)
