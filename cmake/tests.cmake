# Tests: every test program and CTest test is wired here, after the targets they
# test (CMakeLists.txt includes this file last).
#   tests/unit/*_test.cpp    both builds (natively, and under Wine for the Windows build)
#   tests/native/*_test.cpp  native build only
#   tests/wine/*_test.cpp    Windows build only: the real DLL, advapi32 and regsvr32 under Wine
#   tests/qzreg_json/        the schema validation of every qzreg --format json output kept
#   tests/signing/           Windows build only: authenticode_test, signing_configure_test
#   tests/release/           shipped_binaries_test (both builds); sbom_test (Windows build only)
#   the package              Windows build only: msi_tables_test, and msi_e2e_test's packages
#                            (cmake/msi.cmake builds them) and the other product version's
#   tests/timing/            Windows build only: regsvr32_timing, a measurement, not a test
# Each file is one test program and one CTest test. Under the Windows build every
# test program runs through cmake/wine-test-run.sh, which gives it a throwaway
# Wine prefix of its own and its own wineserver.
if(WIN32)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_SOURCE_DIR}/cmake/wine-test-run.sh --build-dir ${CMAKE_BINARY_DIR})
endif()

set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
add_subdirectory(/usr/src/googletest ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

file(GLOB QZ_TEST_SUPPORT_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/support/*.cpp)
list(FILTER QZ_TEST_SUPPORT_SOURCES EXCLUDE REGEX "_${QZ_OTHER_PLATFORM_SUFFIX}\\.cpp$|/test_main\\.cpp$")
add_library(qz_test_support STATIC ${QZ_TEST_SUPPORT_SOURCES})
# The tests reach every room: the module's code, the hosts' and the test decorators.
target_link_libraries(qz_test_support PUBLIC qz_module qz_host qz_test_decorators gtest gmock)
target_include_directories(qz_test_support PUBLIC ${CMAKE_SOURCE_DIR})
target_include_directories(qz_test_support SYSTEM PUBLIC ${QZ_THIRD_PARTY_INCLUDE})
if(WIN32)
  target_link_libraries(qz_test_support PUBLIC advapi32 user32 version)
  # The host process in which end-to-end tests run one pass with hooked imports.
  add_executable(qz_hook_host ${CMAKE_SOURCE_DIR}/tests/hook_host/qz_hook_host.cpp)
  target_link_libraries(qz_hook_host PRIVATE advapi32 user32 shell32)
  # A launcher that runs a command on a window station nobody sees, with a time limit.
  add_executable(qz_hidden_station ${CMAKE_SOURCE_DIR}/tests/hook_host/qz_hidden_station.cpp)
  target_link_libraries(qz_hidden_station PRIVATE user32)
  target_compile_definitions(qz_test_support PUBLIC QZ_HOOK_HOST_FILE="$<TARGET_FILE:qz_hook_host>"
    QZ_HIDDEN_STATION_FILE="$<TARGET_FILE:qz_hidden_station>")
endif()
target_compile_definitions(qz_test_support PUBLIC
  QZ_SOURCE_DIR="${CMAKE_SOURCE_DIR}"
  QZ_BINARY_DIR="${CMAKE_BINARY_DIR}"
  QZ_MODULE_FILE="$<TARGET_FILE:qzproduct>"
  QZ_QZREG_FILE="$<TARGET_FILE:qzreg>"
  QZ_CMAKE_COMMAND="${CMAKE_COMMAND}")

# Every test program's main: a program that passed with cases skipped (no tmpfs
# for the full-disk tests, another code page, ...) exits with this code, and
# CTest shows it as skipped. (A skip pattern over the output would not do: CTest
# then shows a program as skipped even when another of its cases failed.)
set(QZ_TEST_SKIPPED_EXIT_CODE 77)
add_library(qz_test_main STATIC ${CMAKE_SOURCE_DIR}/tests/support/test_main.cpp)
target_link_libraries(qz_test_main PUBLIC gtest)
target_compile_definitions(qz_test_main PRIVATE QZ_SKIPPED_EXIT_CODE=${QZ_TEST_SKIPPED_EXIT_CODE})

# Arguments of a test program's own CTest test, where it has some.
#   msi_e2e_test: msi_other_version_test runs OtherVersion, once the other version is built.
set(QZ_TEST_ARGUMENTS_msi_e2e_test --gtest_filter=-OtherVersion.*)

set(QZ_TEST_DIRS tests/unit)
if(WIN32)
  list(APPEND QZ_TEST_DIRS tests/wine)
else()
  list(APPEND QZ_TEST_DIRS tests/native)
endif()

foreach(dir ${QZ_TEST_DIRS})
  file(GLOB test_sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${dir}/*_test.cpp)
  foreach(test_source ${test_sources})
    get_filename_component(test_name ${test_source} NAME_WE)
    add_executable(${test_name} ${test_source})
    # Every room's library (through the support library), of which the linker
    # takes what the test reaches; the compiled resources as object files, so
    # that they come along on Windows too.
    target_link_libraries(${test_name} PRIVATE qz_test_support qz_test_main qz_compiled_resources)
    add_dependencies(${test_name} qzproduct qzreg)
    if(WIN32)
      add_dependencies(${test_name} qz_hook_host qz_hidden_station)
    endif()
    if(NOT WIN32)
      target_link_libraries(${test_name} PRIVATE dl)
      add_dependencies(${test_name} qzreg)
    endif()
    add_test(NAME ${test_name} COMMAND ${test_name} ${QZ_TEST_ARGUMENTS_${test_name}})
    set_tests_properties(${test_name} PROPERTIES SKIP_RETURN_CODE ${QZ_TEST_SKIPPED_EXIT_CODE}
      ENVIRONMENT "QZ_SOURCE_DIR=${CMAKE_SOURCE_DIR};QZ_BINARY_DIR=${CMAKE_BINARY_DIR}")
    list(APPEND QZ_TEST_PROGRAMS ${test_name})
  endforeach()
endforeach()

# Every --format json output of qzreg (qzreg.exe in the Windows build) that the
# tests above produce (tests/support/qzreg_json_outputs.h), validated against
# docs/qzreg-json.schema.json with Debian's python3-jsonschema. The kept
# outputs are cleared before any test program runs, and validated after all of
# them, whichever runs qzreg; asked for alone (ctest -R qzreg_json_schema), the
# validation brings them all along.
set(QZ_QZREG_JSON_OUTPUTS ${CMAKE_BINARY_DIR}/qzreg-json-outputs)
find_program(QZ_SYSTEM_PYTHON3 python3 PATHS /usr/bin NO_DEFAULT_PATH)
add_test(NAME qzreg_json_outputs_clear COMMAND ${CMAKE_COMMAND} -E rm -rf ${QZ_QZREG_JSON_OUTPUTS})
set_tests_properties(qzreg_json_outputs_clear PROPERTIES FIXTURES_SETUP qzreg_json_clear)
set_tests_properties(${QZ_TEST_PROGRAMS} PROPERTIES
  FIXTURES_REQUIRED qzreg_json_clear FIXTURES_SETUP qzreg_json_outputs)
add_test(NAME qzreg_json_schema_test
  COMMAND ${QZ_SYSTEM_PYTHON3} ${CMAKE_SOURCE_DIR}/tests/qzreg_json/validate_outputs.py
    --schema ${CMAKE_SOURCE_DIR}/docs/qzreg-json.schema.json --outputs ${QZ_QZREG_JSON_OUTPUTS}
    --sources ${CMAKE_SOURCE_DIR}/tests --invalid ${CMAKE_SOURCE_DIR}/tests/qzreg_json/invalid)
set_tests_properties(qzreg_json_schema_test PROPERTIES FIXTURES_REQUIRED qzreg_json_outputs)

# What some test programs need beyond the module.
# The unit test of the custom action's rows is built with the action's platform-free part.
target_sources(installer_rows_test PRIVATE ${CMAKE_SOURCE_DIR}/tools/qzaction/installer_rows.cpp)
# So is the one of every user's logon commands.
target_sources(logon_command_test PRIVATE ${CMAKE_SOURCE_DIR}/tools/qzaction/logon_command.cpp)

# What the shipped binaries hold, by their symbol tables: the module neither test
# decorator, overlay nor change list (hosts and tests run those), qzreg no test
# decorator. Each room being a library, the linker takes only what is reached.
set(qz_test_decorator_symbols "FaultInjectingRegistry|RegistryFault|RegistryCall|RegOpName")
add_test(NAME shipped_binaries_test
  COMMAND ${CMAKE_SOURCE_DIR}/tests/release/shipped_binaries_test.sh ${CMAKE_NM}
    $<TARGET_FILE:qzproduct> QzRunRegistrationPass "${qz_test_decorator_symbols}|OverlayRegistry|RegistryChange"
    $<TARGET_FILE:qzreg> RunPassOnOverlay "${qz_test_decorator_symbols}")

if(NOT WIN32)
  return()
endif()

# What a release ships, as cmake/release.cmake gathers it:
# authenticode_test signs copies of the same files with cmake/sign-file.sh and a throwaway
# certificate authority, the key in a PKCS#12 file and in a SoftHSM2 token, verifies them with
# osslsigncode and asks Wine's WinVerifyTrust about the DLL (tests/signing/);
# signing_configure_test checks how configuring resolves and refuses the signing settings;
# sbom_test validates the bill of materials against the published schema (tests/release/).
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

# The package (cmake/msi.cmake), when wixl and msitools are there to build it: its tables checked
# as a packaging team's validation does (key paths, versions, sequence order, custom action
# types, upgrade rows) with cmake/msi-table-checks.sh; msi_e2e_test installs it, the next and
# older builds and the rollback copy under Wine.
if(TARGET msi-test-packages)
  string(REPLACE ";" "$<SEMICOLON>" qz_folder_sddl "${QZ_MSI_FOLDER_SDDL}")
  add_test(NAME msi_tables_test COMMAND ${CMAKE_SOURCE_DIR}/cmake/msi-table-checks.sh --msiinfo ${QZ_MSIINFO}
    --file-version qzproduct.dll=${QZ_MSI_FILE_VERSION} --file-version qzreg.exe=${QZ_MSI_FILE_VERSION}
    --file-version qzevents.dll=${QZ_FILE_VERSION} --folder-permissions "INSTALLFOLDER=${qz_folder_sddl}" ${QZ_MSI_FILE})

  # A stand-in for the modelling application: it loads the installed module and keeps it loaded
  # while msi_e2e_test upgrades or removes the package.
  add_executable(qz_module_holder ${CMAKE_SOURCE_DIR}/tests/hook_host/qz_module_holder.cpp)
  target_link_libraries(qz_module_holder PRIVATE shell32)

  if(TARGET msi_e2e_test)
    add_dependencies(msi_e2e_test msi msi-test-packages qz_module_holder)
    target_link_libraries(msi_e2e_test PRIVATE -lmsi)
    target_compile_definitions(msi_e2e_test PRIVATE QZ_MSI_PACKAGE="${QZ_MSI_FILE}"
      QZ_MSI_NEXT_PACKAGE="${QZ_MSI_NEXT_FILE}" QZ_MSI_OLDER_PACKAGE="${QZ_MSI_OLDER_FILE}"
      QZ_MSI_ROLLBACK_PACKAGE="${QZ_MSI_ROLLBACK_FILE}" QZ_MSI_NEXT_MODULE="${qz_next_files}/qzproduct.dll"
      QZ_MSI_PRODUCT_VERSION="${QZ_MSI_PRODUCT_VERSION}" QZ_MSI_UPGRADE_CODE="${QZ_MSI_UPGRADE_CODE}"
      QZ_MSI_NEXT_PRODUCT_VERSION="${QZ_VERSION_MAJOR}.${QZ_VERSION_MINOR}.${qz_next_build}"
      QZ_MSI_FILE_VERSION="${QZ_FILE_VERSION}" QZ_MSI_PACKAGE_FILE_VERSION="${QZ_MSI_FILE_VERSION}"
      QZ_MSI_SAME_BUILD_PACKAGE="${QZ_MSI_SAME_BUILD_FILE}" QZ_MSI_LEAVES_HELD_PACKAGE="${QZ_MSI_LEAVES_HELD_FILE}" QZ_MODULE_HOLDER_FILE="$<TARGET_FILE:qz_module_holder>"
      QZ_MSI_ACTIVE_SETUP_CODE="${QZ_MSI_ACTIVE_SETUP_CODE}"
      QZ_MSI_ACTIVE_SETUP_VERSION="${QZ_VERSION_MAJOR},${QZ_VERSION_MINOR},${qz_build_number}")
  endif()

  # ---- the package of the next product version beside this one's -----------------------------
  # A second build folder of the same sources for version MAJOR+1 (only the package's targets)
  # makes that version's package; msi_other_version_test then installs and removes it beside this
  # version's installed package and compares with regsvr32 on a twin (tests/wine/msi_e2e_test.cpp,
  # OtherVersion).
  if(TARGET msi_e2e_test)
    math(EXPR qz_other_major "${QZ_VERSION_MAJOR} + 1")
    set(qz_other_version "${qz_other_major}.${QZ_VERSION_MINOR}")
    set(qz_other_dir ${CMAKE_BINARY_DIR}/other-version-${qz_other_version})
    set(qz_other_configure ${CMAKE_COMMAND} -S ${CMAKE_SOURCE_DIR} -B ${qz_other_dir} -G ${CMAKE_GENERATOR}
      -DCMAKE_TOOLCHAIN_FILE=${CMAKE_TOOLCHAIN_FILE} -DCMAKE_BUILD_TYPE=${CMAKE_BUILD_TYPE}
      -DQZ_PRODUCT_VERSION=${qz_other_version} -DQZ_BUILD_NUMBER=${qz_build_number})
    foreach(launcher CMAKE_CXX_COMPILER_LAUNCHER CMAKE_C_COMPILER_LAUNCHER)
      if(${launcher})
        list(APPEND qz_other_configure -D${launcher}=${${launcher}})
      endif()
    endforeach()
    add_test(NAME msi_other_version_build COMMAND sh -c "dir=$1; shift; \"$@\" >/dev/null && \"$0\" --build \"$dir\" --target msi >/dev/null"
      ${CMAKE_COMMAND} ${qz_other_dir} ${qz_other_configure})
    set_tests_properties(msi_other_version_build PROPERTIES FIXTURES_SETUP msi_other_version TIMEOUT 1800)
    add_test(NAME msi_other_version_test COMMAND msi_e2e_test --gtest_filter=OtherVersion.*)
    set_tests_properties(msi_other_version_test PROPERTIES FIXTURES_REQUIRED msi_other_version
      SKIP_RETURN_CODE ${QZ_TEST_SKIPPED_EXIT_CODE}
      ENVIRONMENT "QZ_SOURCE_DIR=${CMAKE_SOURCE_DIR};QZ_BINARY_DIR=${CMAKE_BINARY_DIR};QZ_OTHER_VERSION_DIR=${qz_other_dir}")
  endif()
endif()

# Windows build only: a DLL whose self-registration exports do nothing, and a
# program that times regsvr32 of the product module against it under Wine.
#   cmake --build build/windows --target regsvr32_timing
#   cmake/wine-test-run.sh --build-dir $PWD/build/windows $PWD/build/windows/bin/regsvr32_timing.exe [rounds]
add_library(qznoop SHARED EXCLUDE_FROM_ALL ${CMAKE_SOURCE_DIR}/tests/timing/noop_module.cpp
                                          ${CMAKE_SOURCE_DIR}/tests/timing/noop_module.def)
set_target_properties(qznoop PROPERTIES PREFIX "" OUTPUT_NAME qznoop)

add_executable(regsvr32_timing EXCLUDE_FROM_ALL ${CMAKE_SOURCE_DIR}/tests/timing/regsvr32_timing.cpp)
target_link_libraries(regsvr32_timing PRIVATE qz_test_support)
target_compile_definitions(regsvr32_timing PRIVATE QZ_NOOP_MODULE_FILE="$<TARGET_FILE:qznoop>")
add_dependencies(regsvr32_timing qzproduct qznoop)
