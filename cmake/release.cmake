# What a release ships, and the tests that signing it works and that its bill of materials
# is valid (Windows build).
#
# `cmake --build --preset windows --target release-artifacts` gathers qzproduct.dll, qzreg.exe,
# qzaction.dll and the MSI (signed when a key is configured, cmake/signing.cmake) in
# release-artifacts/ of the build folder, with the bill of materials qzproduct.cdx.json
# (CycloneDX 1.5, cmake/release-sbom.py) and SHA256SUMS of all of them beside them.
#
# authenticode_test signs copies of the same files with cmake/sign-file.sh and a throwaway
# certificate authority, the key in a PKCS#12 file and in a SoftHSM2 token, verifies them with
# osslsigncode and asks Wine's WinVerifyTrust about the DLL (tests/signing/);
# signing_configure_test checks how configuring resolves and refuses the signing settings.
# sbom_test validates the bill of materials against the published schema (tests/release/).
if(NOT WIN32)
  return()
endif()

set(qz_release_files $<TARGET_FILE:qzproduct> $<TARGET_FILE:qzreg>)
set(qz_release_targets qzproduct qzreg)
if(TARGET qzaction)
  list(APPEND qz_release_files $<TARGET_FILE:qzaction>)
  list(APPEND qz_release_targets qzaction)
endif()
if(TARGET msi)
  list(APPEND qz_release_files ${QZ_MSI_FILE})
  list(APPEND qz_release_targets msi)
endif()

# The bill of materials: what each shipped binary contains. The static runtime is in every
# binary (-static, cmake/mingw-w64-x86_64.cmake); qzreg compiles in CLI11 and nlohmann-json.
set(qz_runtime_parts libstdc++,libgcc,winpthreads,mingw-w64-crt)
set(qz_sbom_binaries
  --binary qzproduct.dll $<TARGET_FILE:qzproduct> sources,${qz_runtime_parts}
  --binary qzreg.exe $<TARGET_FILE:qzreg> sources,${qz_runtime_parts},cli11,nlohmann-json)
set(qz_packaged qzproduct.dll,qzreg.exe)
if(TARGET qzaction)
  list(APPEND qz_sbom_binaries --binary qzaction.dll $<TARGET_FILE:qzaction> sources,${qz_runtime_parts})
  string(APPEND qz_packaged ,qzaction.dll)
endif()
if(TARGET msi)
  # The package also carries the event source's message file: the message table alone.
  list(APPEND qz_sbom_binaries --binary qzevents.dll $<TARGET_FILE:qzevents> sources
                               --package qzproduct.msi ${QZ_MSI_FILE} ${qz_packaged},qzevents.dll)
endif()
find_package(Python3 COMPONENTS Interpreter REQUIRED)
set(QZ_SBOM_FILE ${CMAKE_BINARY_DIR}/sbom/qzproduct.cdx.json)
set(QZ_SBOM_COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/cmake/release-sbom.py
  --output ${QZ_SBOM_FILE} --source-dir ${CMAKE_SOURCE_DIR}
  --name "Orvantis ${QZ_PRODUCT_VERSION}" --version ${PROJECT_VERSION} --supplier "Corvalen Process Systems Ltd."
  --epoch ${QZ_SOURCE_DATE_EPOCH} --compiler ${CMAKE_CXX_COMPILER} ${qz_sbom_binaries})

set(QZ_RELEASE_DIR ${CMAKE_BINARY_DIR}/release-artifacts)
add_custom_target(release-artifacts
  COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/sbom
  COMMAND ${QZ_SBOM_COMMAND}
  COMMAND ${CMAKE_SOURCE_DIR}/cmake/release-artifacts.sh ${QZ_RELEASE_DIR} ${qz_release_files} ${QZ_SBOM_FILE}
  DEPENDS ${qz_release_targets} ${CMAKE_SOURCE_DIR}/cmake/release-artifacts.sh ${CMAKE_SOURCE_DIR}/cmake/release-sbom.py
  COMMENT "Release artifacts, their bill of materials and SHA256SUMS in ${QZ_RELEASE_DIR}"
  VERBATIM)

add_executable(verify_trust ${CMAKE_SOURCE_DIR}/tests/signing/verify_trust.cpp)
target_link_options(verify_trust PRIVATE -municode)
target_link_libraries(verify_trust PRIVATE wintrust crypt32)
add_dependencies(verify_trust ${qz_release_targets})
find_program(QZ_OSSLSIGNCODE osslsigncode)
find_program(QZ_OPENSSL openssl)
if(QZ_OSSLSIGNCODE AND QZ_OPENSSL)
  add_test(NAME authenticode_test
    COMMAND ${CMAKE_SOURCE_DIR}/tests/signing/authenticode_test.sh ${CMAKE_BINARY_DIR} $<TARGET_FILE:verify_trust>
            ${qz_release_files})
else()
  add_test(NAME authenticode_test COMMAND ${CMAKE_COMMAND} -E echo
    "authenticode_test needs osslsigncode and openssl: run scripts/setup-debian.sh")
  set_tests_properties(authenticode_test PROPERTIES WILL_FAIL ON)
endif()

add_test(NAME signing_configure_test
  COMMAND ${CMAKE_SOURCE_DIR}/tests/signing/signing_configure_test.sh ${CMAKE_SOURCE_DIR} ${CMAKE_BINARY_DIR})

# The bill of materials of this build's binaries, written to a folder of the test's own and
# validated against the CycloneDX 1.5 schema kept in tests/release/cyclonedx-schema.
add_test(NAME sbom_test
  COMMAND ${CMAKE_SOURCE_DIR}/tests/release/sbom_test.sh ${CMAKE_BINARY_DIR} ${QZ_SBOM_COMMAND})

# The event source as the package registers it (tests/wine/event_source_e2e_test.cpp), with a
# second product that carries the same event source component, made from the package.
if(TARGET event_source_e2e_test AND TARGET msi AND QZ_MSIBUILD AND QZ_MSIINFO)
  set(qz_event_source_other ${CMAKE_BINARY_DIR}/bin/event-source-other-product.msi)
  add_custom_command(OUTPUT ${qz_event_source_other}
    COMMAND ${CMAKE_SOURCE_DIR}/tests/wine/event_source_other_package.sh ${QZ_MSIBUILD} ${QZ_MSIINFO}
            ${QZ_MSI_FILE} ${qz_event_source_other}
    DEPENDS ${QZ_MSI_FILE} ${CMAKE_SOURCE_DIR}/tests/wine/event_source_other_package.sh
    COMMENT "A second product with the event source, for event_source_e2e_test"
    VERBATIM)
  add_custom_target(event_source_other_package DEPENDS ${qz_event_source_other})
  add_dependencies(event_source_e2e_test msi event_source_other_package)
  target_compile_definitions(event_source_e2e_test PRIVATE QZ_MSI_PACKAGE="${QZ_MSI_FILE}"
    QZ_EVENT_SOURCE_OTHER_PACKAGE="${qz_event_source_other}")
endif()
