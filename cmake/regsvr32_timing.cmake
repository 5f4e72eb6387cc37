# Windows build only: a DLL whose self-registration exports do nothing, and a
# program that times regsvr32 of the product module against it under Wine.
#   cmake --build build/windows --target regsvr32_timing
#   cmake/wine-test-run.sh --build-dir $PWD/build/windows $PWD/build/windows/bin/regsvr32_timing.exe [rounds]
if(WIN32)
  add_library(qznoop SHARED EXCLUDE_FROM_ALL ${CMAKE_SOURCE_DIR}/tests/timing/noop_module.cpp
                                            ${CMAKE_SOURCE_DIR}/tests/timing/noop_module.def)
  set_target_properties(qznoop PROPERTIES PREFIX "" OUTPUT_NAME qznoop)

  add_executable(regsvr32_timing EXCLUDE_FROM_ALL ${CMAKE_SOURCE_DIR}/tests/timing/regsvr32_timing.cpp)
  target_link_libraries(regsvr32_timing PRIVATE qz_test_support)
  target_compile_definitions(regsvr32_timing PRIVATE QZ_NOOP_MODULE_FILE="$<TARGET_FILE:qznoop>")
  add_dependencies(regsvr32_timing qzproduct qznoop)
endif()
