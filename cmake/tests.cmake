# Tests.
#   tests/unit/*_test.cpp    both builds (natively, and under Wine for the Windows build)
#   tests/native/*_test.cpp  native build only
#   tests/wine/*_test.cpp    Windows build only: the real DLL, advapi32 and regsvr32 under Wine
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
include(cmake/regsvr32_timing.cmake)
