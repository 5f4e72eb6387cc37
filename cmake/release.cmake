# What a release ships (Windows build).
#
# `cmake --build --preset windows --target release-artifacts` gathers qzproduct.dll, qzreg.exe,
# qzaction.dll and the MSI (signed when a key is configured, cmake/signing.cmake) in
# release-artifacts/ of the build folder, with the bill of materials qzproduct.cdx.json
# (CycloneDX 1.5, cmake/release-sbom.py) and SHA256SUMS of all of them beside them.
# qz_release_files, qz_release_targets and QZ_SBOM_COMMAND name them for the signing and
# bill-of-materials tests (cmake/tests.cmake).
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
