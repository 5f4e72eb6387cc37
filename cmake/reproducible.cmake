# Reproducible builds: two clean builds of one commit, in different folders and
# at different times, give the same bytes (scripts/check-reproducible.sh).
#
# QZ_SOURCE_DATE_EPOCH is the one point in time a build may record: the
# environment's SOURCE_DATE_EPOCH when set, else the time of the commit that is
# checked out, else 1980-01-01 (the earliest date a cabinet can hold). The MSI's
# dates and the signatures' signing time are set to it.
if(DEFINED ENV{SOURCE_DATE_EPOCH})
  set(QZ_SOURCE_DATE_EPOCH "$ENV{SOURCE_DATE_EPOCH}")
else()
  execute_process(COMMAND git -C ${CMAKE_SOURCE_DIR} log -1 --format=%ct
    OUTPUT_VARIABLE QZ_SOURCE_DATE_EPOCH OUTPUT_STRIP_TRAILING_WHITESPACE
    RESULT_VARIABLE qz_git_result ERROR_QUIET)
  if(NOT qz_git_result EQUAL 0 OR NOT QZ_SOURCE_DATE_EPOCH MATCHES "^[0-9]+$")
    set(QZ_SOURCE_DATE_EPOCH 315532800)
  endif()
  # A commit or a checkout appends to HEAD's log: configure again, so that the
  # time follows the commit that is built.
  execute_process(COMMAND git -C ${CMAKE_SOURCE_DIR} rev-parse --path-format=absolute --git-path logs/HEAD
    OUTPUT_VARIABLE qz_head_log OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
  if(qz_head_log AND EXISTS "${qz_head_log}")
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS "${qz_head_log}")
  endif()
endif()

# No folder of the machine that built it goes into an object file: the source
# folder is recorded as ".", the build folder (which may lie inside it, so its
# map comes last and wins) as "build" (file names in __FILE__, debug info).
add_compile_options(
  "$<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${CMAKE_SOURCE_DIR}=.>"
  "$<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${CMAKE_BINARY_DIR}=build>")

# The PE header's time stamp is the link's time unless the linker is told not
# to insert one (it is then 0, and the header's checksum stops changing with it).
if(WIN32)
  add_link_options(-Wl,--no-insert-timestamp)
endif()
