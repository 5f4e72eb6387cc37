# The product's resources, from the one source resources/product.rc.
#   Windows: windres compiles it into the DLL (and into the test programs).
#   Native:  windres -O res compiles it into a .res file that is embedded in the
#            shared library and read by id (resources/res_reader.*).
file(GLOB QZ_RESOURCE_INPUTS CONFIGURE_DEPENDS
  ${CMAKE_SOURCE_DIR}/resources/*.rc ${CMAKE_SOURCE_DIR}/resources/*.h
  ${CMAKE_SOURCE_DIR}/resources/*.manifest ${CMAKE_SOURCE_DIR}/resources/art/*.ico
  ${CMAKE_SOURCE_DIR}/resources/art/*.bmp)

if(WIN32)
  add_library(qz_resources OBJECT ${CMAKE_SOURCE_DIR}/resources/product.rc)
  set_source_files_properties(${CMAKE_SOURCE_DIR}/resources/product.rc PROPERTIES
    OBJECT_DEPENDS "${QZ_RESOURCE_INPUTS};${CMAKE_BINARY_DIR}/generated/product_version.h")
  target_include_directories(qz_resources PRIVATE ${CMAKE_SOURCE_DIR}/resources ${CMAKE_SOURCE_DIR}
                             ${CMAKE_BINARY_DIR}/generated)
  # The same source with only its string table, for the package's custom action (cmake/msi.cmake).
  add_library(qz_string_table_resources OBJECT ${CMAKE_SOURCE_DIR}/resources/product.rc)
  target_compile_definitions(qz_string_table_resources PRIVATE QZ_STRING_TABLE_ONLY)
  target_include_directories(qz_string_table_resources PRIVATE ${CMAKE_SOURCE_DIR}/resources ${CMAKE_SOURCE_DIR}
                             ${CMAKE_BINARY_DIR}/generated)
else()
  find_program(QZ_WINDRES NAMES x86_64-w64-mingw32-windres windres REQUIRED)
  set(QZ_RES_FILE ${CMAKE_BINARY_DIR}/product.res)
  add_custom_command(OUTPUT ${QZ_RES_FILE}
    COMMAND ${QZ_WINDRES} -O res -I ${CMAKE_SOURCE_DIR}/resources -I ${CMAKE_SOURCE_DIR} -I ${CMAKE_BINARY_DIR}/generated
            -o ${QZ_RES_FILE} ${CMAKE_SOURCE_DIR}/resources/product.rc
    WORKING_DIRECTORY ${CMAKE_SOURCE_DIR}/resources
    DEPENDS ${QZ_RESOURCE_INPUTS} ${CMAKE_BINARY_DIR}/generated/product_version.h
    COMMENT "Compiling product.rc into product.res")
  configure_file(${CMAKE_SOURCE_DIR}/resources/embedded_res.S.in ${CMAKE_BINARY_DIR}/embedded_res.S @ONLY)
  set_source_files_properties(${CMAKE_BINARY_DIR}/embedded_res.S PROPERTIES OBJECT_DEPENDS ${QZ_RES_FILE})
  add_library(qz_resources OBJECT ${CMAKE_BINARY_DIR}/embedded_res.S)
endif()
