# What a release ships (Windows build).
#
# `cmake --build --preset windows --target release-artifacts` gathers qzproduct.dll, qzreg.exe
# and the MSI (signed when a certificate is configured, cmake/signing.cmake) in
# release-artifacts/ of the build folder, with SHA256SUMS beside them. qz_release_files and
# qz_release_targets name them for the signing test (cmake/tests.cmake).
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
