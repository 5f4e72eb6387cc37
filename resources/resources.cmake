# The product's resources, from the one source resources/product.rc.
#   Windows: windres compiles it into the DLL (and into the test programs).
#   Native:  windres -O res compiles it into a .res file that is embedded in the
#            shared library and read by id (resources/res_reader.*).
file(GLOB QZ_RESOURCE_INPUTS CONFIGURE_DEPENDS
  ${CMAKE_SOURCE_DIR}/resources/*.rc ${CMAKE_SOURCE_DIR}/resources/*.h
  ${CMAKE_SOURCE_DIR}/resources/*.manifest ${CMAKE_SOURCE_DIR}/resources/art/*.ico
  ${CMAKE_SOURCE_DIR}/resources/art/*.bmp)

if(WIN32)
  # The message table: the texts of the pass's messages by number, the event log's
  # rendering of the module's events (resources/report_messages.inc, windmc).
  find_program(QZ_WINDMC NAMES x86_64-w64-mingw32-windmc windmc REQUIRED)
  set(qz_messages_dir ${CMAKE_BINARY_DIR}/generated/messages)
  add_custom_command(OUTPUT ${qz_messages_dir}/report_messages.rc ${qz_messages_dir}/MSG00409.bin
    COMMAND ${CMAKE_COMMAND} -D INPUT=${CMAKE_SOURCE_DIR}/resources/report_messages.inc
            -D OUTPUT=${qz_messages_dir}/report_messages.mc -P ${CMAKE_SOURCE_DIR}/resources/report_messages_mc.cmake
    COMMAND ${QZ_WINDMC} -U -h ${qz_messages_dir} -r ${qz_messages_dir} ${qz_messages_dir}/report_messages.mc
    DEPENDS ${CMAKE_SOURCE_DIR}/resources/report_messages.inc ${CMAKE_SOURCE_DIR}/resources/report_messages_mc.cmake
    COMMENT "Building the message table from resources/report_messages.inc"
    VERBATIM)
  file(MAKE_DIRECTORY ${qz_messages_dir})
  add_library(qz_compiled_resources OBJECT ${CMAKE_SOURCE_DIR}/resources/product.rc ${qz_messages_dir}/report_messages.rc)
  set_source_files_properties(${qz_messages_dir}/report_messages.rc PROPERTIES
    OBJECT_DEPENDS ${qz_messages_dir}/MSG00409.bin)
  set_source_files_properties(${CMAKE_SOURCE_DIR}/resources/product.rc PROPERTIES
    OBJECT_DEPENDS "${QZ_RESOURCE_INPUTS};${CMAKE_BINARY_DIR}/generated/product_version.h")
  target_include_directories(qz_compiled_resources PRIVATE ${CMAKE_SOURCE_DIR}/resources ${CMAKE_SOURCE_DIR}
                             ${CMAKE_BINARY_DIR}/generated ${qz_messages_dir})

  # qzevents.dll: the same message table alone, no code (no entry point, no imports), the
  # event source's message file that the package installs once for all versions.
  add_library(qzevents SHARED ${CMAKE_SOURCE_DIR}/resources/qzevents.rc)
  set_target_properties(qzevents PROPERTIES PREFIX "" OUTPUT_NAME qzevents LINKER_LANGUAGE C)
  target_include_directories(qzevents PRIVATE ${qz_messages_dir} ${CMAKE_BINARY_DIR}/generated)
  target_link_options(qzevents PRIVATE -nostdlib -Wl,-e,0)
  set_source_files_properties(${CMAKE_SOURCE_DIR}/resources/qzevents.rc PROPERTIES
    OBJECT_DEPENDS "${qz_messages_dir}/MSG00409.bin;${CMAKE_BINARY_DIR}/generated/product_version.h")
  qz_sign_target(qzevents)
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
  add_library(qz_compiled_resources OBJECT ${CMAKE_BINARY_DIR}/embedded_res.S)
endif()
