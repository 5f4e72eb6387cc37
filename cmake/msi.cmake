# The registration as an MSI package.
#
# Both builds: qzreg's WiX writer takes the product version from the project.
#
# Windows build: `cmake --build --preset windows --target msi` makes bin/qzproduct.msi in two
# steps, each a script of its own:
#   cmake/msi-harvest.sh   runs qzreg.exe harvest --format wxs under Wine, in a throwaway prefix
#                          (cmake/wine-test-run.sh), against the machine state QZ_MSI_MACHINE_STATE:
#                          msi/qzproduct.wxs
#   cmake/wixl-package.sh  builds the package with Debian's wixl, then writes into it what wixl
#                          0.101 drops (permanent components) or cannot read (component conditions)
# and then makes the package's dates and package code reproducible (cmake/msi-reproducible.sh)
# and signs it when a certificate is configured (cmake/signing.cmake).
# The Wine end-to-end test of the package (tests/wine/msi_e2e_test.cpp) depends on it and on a
# second package harvested against the richer seed of the document tests.
set_property(SOURCE ${CMAKE_SOURCE_DIR}/tools/qzreg/wix_source.cpp APPEND PROPERTY
  COMPILE_DEFINITIONS QZ_PRODUCT_VERSION="${PROJECT_VERSION}")

# The unit test of the WiX writer is built with the harvest's part of qzreg.
if(TARGET wix_source_test)
  foreach(source wix_source harvest change_report reg_import)
    target_sources(wix_source_test PRIVATE ${CMAKE_SOURCE_DIR}/tools/qzreg/${source}.cpp)
  endforeach()
  target_include_directories(wix_source_test SYSTEM PRIVATE ${QZ_THIRD_PARTY_INCLUDE})
endif()

if(NOT WIN32)
  return()
endif()

set(QZ_MSI_MACHINE_STATE "${CMAKE_SOURCE_DIR}/scripts/demo-installation.reg" CACHE STRING
  "The .reg files (;-separated) of the machine state the package's registration is harvested against: \
the installed versions of the modelling system decide the versioned Open verbs")

find_program(QZ_WIXL wixl)
find_program(QZ_MSIBUILD msibuild)
find_program(QZ_MSIINFO msiinfo)

# qz_add_msi_package(TARGET WXS MSI MACHINE_STATE...): a target that makes MSI from the harvest
# against the given .reg files.
function(qz_add_msi_package target wxs msi)
  if(NOT QZ_WIXL OR NOT QZ_MSIBUILD OR NOT QZ_MSIINFO)
    add_custom_target(${target}
      COMMAND ${CMAKE_COMMAND} -E echo
        "${target}: wixl, msibuild and msiinfo were not found: install Debian's wixl and msitools (scripts/setup-debian.sh), then configure again"
      COMMAND ${CMAKE_COMMAND} -E false
      VERBATIM)
    return()
  endif()
  add_custom_command(OUTPUT ${wxs}
    COMMAND ${CMAKE_SOURCE_DIR}/cmake/msi-harvest.sh ${CMAKE_BINARY_DIR} $<TARGET_FILE:qzreg> ${wxs} ${ARGN}
    DEPENDS qzreg qzproduct ${ARGN}
            ${CMAKE_SOURCE_DIR}/cmake/msi-harvest.sh ${CMAKE_SOURCE_DIR}/cmake/wine-test-run.sh
    COMMENT "Harvesting the registration under Wine: ${wxs}"
    VERBATIM)
  add_custom_command(OUTPUT ${msi}
    COMMAND ${CMAKE_SOURCE_DIR}/cmake/wixl-package.sh
            --wixl ${QZ_WIXL} --msibuild ${QZ_MSIBUILD} --msiinfo ${QZ_MSIINFO}
            ${wxs} $<TARGET_FILE_DIR:qzproduct> ${msi}
    COMMAND ${CMAKE_SOURCE_DIR}/cmake/msi-reproducible.sh --msibuild ${QZ_MSIBUILD} --msiinfo ${QZ_MSIINFO}
            ${msi} ${QZ_SOURCE_DATE_EPOCH}
    COMMAND ${QZ_SIGN_FILE_COMMAND} ${msi}
    DEPENDS ${wxs} qzproduct ${CMAKE_SOURCE_DIR}/cmake/wixl-package.sh
            ${CMAKE_SOURCE_DIR}/cmake/msi-reproducible.sh ${CMAKE_SOURCE_DIR}/cmake/sign-file.sh
    COMMENT "Building the package with wixl: ${msi}"
    VERBATIM)
  add_custom_target(${target} DEPENDS ${msi})
endfunction()

set(QZ_MSI_FILE ${CMAKE_BINARY_DIR}/bin/qzproduct.msi)
qz_add_msi_package(msi ${CMAKE_BINARY_DIR}/msi/qzproduct.wxs ${QZ_MSI_FILE} ${QZ_MSI_MACHINE_STATE})

# For the tests: a package harvested against the demo's installation (the shipped one itself
# unless the cache names another machine state), and one harvested against the document tests'
# seed (other system versions in both registry views, other versions of the product).
set(QZ_MSI_TEST_DIR ${CMAKE_BINARY_DIR}/msi-tests)
set(qz_installation_state ${CMAKE_SOURCE_DIR}/scripts/demo-installation.reg)
if(QZ_MSI_MACHINE_STATE STREQUAL qz_installation_state)
  set(qz_installation_target msi)
  set(qz_installation_package ${QZ_MSI_FILE})
else()
  set(qz_installation_target msi_test_installation)
  set(qz_installation_package ${QZ_MSI_TEST_DIR}/installation/qzproduct.msi)
  qz_add_msi_package(msi_test_installation ${QZ_MSI_TEST_DIR}/installation/qzproduct.wxs
    ${qz_installation_package} ${qz_installation_state})
endif()
qz_add_msi_package(msi_test_documents ${QZ_MSI_TEST_DIR}/documents/qzproduct.wxs
  ${QZ_MSI_TEST_DIR}/documents/qzproduct.msi ${CMAKE_SOURCE_DIR}/tests/e2e/fixtures/documents_seed.reg)

if(TARGET msi_e2e_test)
  add_dependencies(msi_e2e_test ${qz_installation_target} msi_test_documents)
  target_compile_definitions(msi_e2e_test PRIVATE
    QZ_MSI_INSTALLATION_PACKAGE="${qz_installation_package}"
    QZ_MSI_DOCUMENTS_PACKAGE="${QZ_MSI_TEST_DIR}/documents/qzproduct.msi")
endif()
