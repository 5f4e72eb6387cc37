# Tests: every test program and CTest test is wired here, after the targets they
# test (CMakeLists.txt includes this file last).
#   tests/unit/*_test.cpp    both builds (natively, and under Wine for the Windows build)
#   tests/native/*_test.cpp  native build only
#   tests/wine/*_test.cpp    Windows build only: the real DLL, advapi32 and regsvr32 under Wine
#   tests/signing/           Windows build only: authenticode_test
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
list(FILTER QZ_TEST_SUPPORT_SOURCES EXCLUDE REGEX "_${QZ_OTHER_PLATFORM_SUFFIX}\\.cpp$")
add_library(qz_test_support STATIC ${QZ_TEST_SUPPORT_SOURCES})
target_link_libraries(qz_test_support PUBLIC gtest gmock)
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
    # The module's objects are linked in directly (not through an archive), so
    # that the compiled resources come along on Windows too.
    target_link_libraries(${test_name} PRIVATE qz_core qz_resources qz_test_support gtest_main)
    add_dependencies(${test_name} qzproduct qzreg)
    if(WIN32)
      add_dependencies(${test_name} qz_hook_host qz_hidden_station)
    endif()
    if(NOT WIN32)
      target_link_libraries(${test_name} PRIVATE dl)
      add_dependencies(${test_name} qzreg)
    endif()
    add_test(NAME ${test_name} COMMAND ${test_name})
    set_tests_properties(${test_name} PROPERTIES
      ENVIRONMENT "QZ_SOURCE_DIR=${CMAKE_SOURCE_DIR};QZ_BINARY_DIR=${CMAKE_BINARY_DIR}")
  endforeach()
endforeach()

# What some test programs need beyond the module.
# The unit test of the custom action's rows is built with the action's platform-free part.
target_sources(installer_rows_test PRIVATE ${CMAKE_SOURCE_DIR}/tools/qzaction/installer_rows.cpp)
if(TARGET msi_e2e_test)
  add_dependencies(msi_e2e_test msi)
  target_compile_definitions(msi_e2e_test PRIVATE QZ_MSI_PACKAGE="${QZ_MSI_FILE}")
endif()

if(NOT WIN32)
  return()
endif()

# authenticode_test signs copies of the release files (cmake/release.cmake) with
# cmake/sign-file.sh and a throwaway certificate authority, verifies them with
# osslsigncode and asks Wine's WinVerifyTrust about the DLL (tests/signing/).
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
