# SPDX-License-Identifier: MIT
# Build-time stand-ins for the macOS bundle's Info.plist keys. A key left empty is
# missing from the bundle dictionary, exactly as an absent plist key would be.
set(VarnoServerURL "" CACHE STRING "Default server address when the user has none")
set(SUPublicEDKey "" CACHE STRING "Software-update signing key (macOS only)")
set(VarnoTelemetryProjectToken "" CACHE STRING "Analytics project token")
set(VarnoTelemetryHost "" CACHE STRING "Analytics ingestion host (https)")
set(VarnoTelemetryEnvironment "" CACHE STRING "Analytics environment property")
set(VarnoWebsiteURL "https://varno.app" CACHE STRING "Product web site for invite links (https)")
set(VARNO_BUILD_NUMBER "" CACHE STRING
    "Build number (CFBundleVersion, analytics app_build); empty: derived from the version")

# From here on VARNO_BUILD_NUMBER is the number this build carries.
include(${CMAKE_CURRENT_LIST_DIR}/BuildNumber.cmake)
varno_build_number(VARNO_BUILD_NUMBER "${PROJECT_VERSION}" "${VARNO_BUILD_NUMBER}")

set(VARNO_BUNDLE_ENTRIES "")
foreach(key VarnoServerURL SUPublicEDKey VarnoTelemetryProjectToken VarnoTelemetryHost
        VarnoTelemetryEnvironment VarnoWebsiteURL)
    if(NOT "${${key}}" STREQUAL "")
        string(REPLACE "\\" "\\\\" escaped "${${key}}")
        string(REPLACE "\"" "\\\"" escaped "${escaped}")
        string(APPEND VARNO_BUNDLE_ENTRIES "        {QStringLiteral(\"${key}\"), QStringLiteral(\"${escaped}\")},\n")
    endif()
endforeach()
string(APPEND VARNO_BUNDLE_ENTRIES
    "        {QStringLiteral(\"CFBundleIdentifier\"), QStringLiteral(\"app.varno\")},\n"
    "        {QStringLiteral(\"CFBundleDisplayName\"), QStringLiteral(\"Varno\")},\n"
    "        {QStringLiteral(\"CFBundleName\"), QStringLiteral(\"Varno\")},\n"
    "        {QStringLiteral(\"CFBundleShortVersionString\"), QStringLiteral(\"${PROJECT_VERSION}\")},\n"
    "        {QStringLiteral(\"CFBundleVersion\"), QStringLiteral(\"${VARNO_BUILD_NUMBER}\")},\n")
configure_file(${PROJECT_SOURCE_DIR}/cmake/BundleValues.h.in
               ${PROJECT_BINARY_DIR}/generated/app/BundleValues.h @ONLY)
