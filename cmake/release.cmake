# What a release ships, and the test that signing it works (Windows build).
#
# `cmake --build --preset windows --target release-artifacts` gathers qzproduct.dll, qzreg.exe
# and the MSI (signed when a certificate is configured, cmake/signing.cmake) in
# release-artifacts/ of the build folder, with SHA256SUMS beside them.
#
# authenticode_test signs copies of the same three files with cmake/sign-file.sh and a
# throwaway certificate authority, verifies them with osslsigncode and asks Wine's
# WinVerifyTrust about the DLL (tests/signing/).
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

set(QZ_RELEASE_DIR ${CMAKE_BINARY_DIR}/release-artifacts)
add_custom_target(release-artifacts
  COMMAND ${CMAKE_SOURCE_DIR}/cmake/release-artifacts.sh ${QZ_RELEASE_DIR} ${qz_release_files}
  DEPENDS ${qz_release_targets} ${CMAKE_SOURCE_DIR}/cmake/release-artifacts.sh
  COMMENT "Release artifacts and SHA256SUMS in ${QZ_RELEASE_DIR}"
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
