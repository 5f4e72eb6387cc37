# Everything the build derives from QZ_PRODUCT_VERSION (MAJOR.MINOR, "38.0").
#
#   QZ_VERSION_MAJOR, QZ_VERSION_MINOR   38, 0
#   QZ_VERSION_BUILD                     380: the file version's fourth number
#   QZ_VERSION_LABEL                     V12: how the modelling system names the
#                                        installation of that version (its folder
#                                        "ZURedore V12"); the system counts its
#                                        labels from version 26, so the label is
#                                        V(MAJOR - 26) unless set
#   QZ_APPLICATION_CLSID                 the automation class of this version: the
#                                        class id's third group is the build number
#
# qz_write_product_version_header(dir) writes dir/product_version.h, which the
# string table, the version block and the code include.
if(NOT QZ_PRODUCT_VERSION MATCHES "^([1-9][0-9]?)\\.([0-9])$")
  message(FATAL_ERROR "QZ_PRODUCT_VERSION must be MAJOR.MINOR (MAJOR 1-99, MINOR 0-9), not '${QZ_PRODUCT_VERSION}'")
endif()
set(QZ_VERSION_MAJOR ${CMAKE_MATCH_1})
set(QZ_VERSION_MINOR ${CMAKE_MATCH_2})
math(EXPR QZ_VERSION_BUILD "${QZ_VERSION_MAJOR} * 10 + ${QZ_VERSION_MINOR}")

set(QZ_VERSION_LABEL "" CACHE STRING "The modelling system's label of this version (empty: V(MAJOR - 26))")
if(QZ_VERSION_LABEL STREQUAL "")
  math(EXPR _qz_label_number "${QZ_VERSION_MAJOR} - 26")
  if(_qz_label_number LESS 1)
    message(FATAL_ERROR "No label follows from version ${QZ_PRODUCT_VERSION}: set QZ_VERSION_LABEL")
  endif()
  set(QZ_VERSION_LABEL_TEXT "V${_qz_label_number}")
else()
  set(QZ_VERSION_LABEL_TEXT "${QZ_VERSION_LABEL}")
endif()

string(LENGTH "${QZ_VERSION_BUILD}" _qz_build_length)
math(EXPR _qz_pad "4 - ${_qz_build_length}")
string(REPEAT "0" ${_qz_pad} _qz_zeros)
set(QZ_APPLICATION_CLSID "{FDE14674-8E3D-${_qz_zeros}${QZ_VERSION_BUILD}-878A-2E97C127D967}")

function(qz_write_product_version_header dir)
  file(MAKE_DIRECTORY ${dir})
  file(CONFIGURE OUTPUT ${dir}/product_version.h CONTENT [[
/* Written by CMake from QZ_PRODUCT_VERSION (cmake/product_version.cmake); do not edit. */
#pragma once
#define QZ_VERSION_MAJOR @QZ_VERSION_MAJOR@
#define QZ_VERSION_MINOR @QZ_VERSION_MINOR@
#define QZ_VERSION_BUILD @QZ_VERSION_BUILD@
#define QZ_VERSION_TEXT "@QZ_VERSION_MAJOR@.@QZ_VERSION_MINOR@"
#define QZ_VERSION_MAJOR_TEXT "@QZ_VERSION_MAJOR@"
#define QZ_VERSION_MINOR_TEXT "@QZ_VERSION_MINOR@"
#define QZ_VERSION_LABEL "@QZ_VERSION_LABEL_TEXT@"
#define QZ_APPLICATION_CLSID "@QZ_APPLICATION_CLSID@"
#define QZ_FILE_VERSION_TEXT "@QZ_VERSION_MAJOR@,@QZ_VERSION_MINOR@,0,@QZ_VERSION_BUILD@"
#define QZ_PRODUCT_VERSION_TEXT "@QZ_VERSION_MAJOR@,@QZ_VERSION_MINOR@,0,0"
]] @ONLY)
endfunction()
