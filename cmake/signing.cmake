# Authenticode signatures of the Windows build (cmake/sign-file.sh, Debian's osslsigncode).
#
# A certificate is configured by a PKCS#12 file and its password, named by
# these cache entries, which start from the environment variables of the same
# names when first configured:
#   QZ_SIGN_PKCS12         the .p12/.pfx file (certificate, chain and private key)
#   QZ_SIGN_PASSWORD_FILE  a file holding its password; without it the password
#                          is read from the environment variable QZ_SIGN_PASSWORD
#                          at build time (never stored in the cache)
#   QZ_SIGN_TIMESTAMP_URL  optional: an RFC 3161 timestamp server
# Neither the certificate nor the password belongs in the repository, and the
# password never appears on a command line. Without QZ_SIGN_PKCS12 nothing is
# signed.
#
# qz_sign_target(TARGET) signs a DLL or program target in place right after it
# is linked, so that everything built from it afterwards (the MSI, the tests)
# takes the signed file. QZ_SIGN_FILE_COMMAND is the command that signs the
# files appended to it (a no-op without a certificate), for files made by
# custom commands, such as the MSI.
set(QZ_SIGN_PKCS12 "$ENV{QZ_SIGN_PKCS12}" CACHE FILEPATH
  "PKCS#12 file of the code-signing certificate; empty: the build is not signed")
set(QZ_SIGN_PASSWORD_FILE "$ENV{QZ_SIGN_PASSWORD_FILE}" CACHE FILEPATH
  "File holding the PKCS#12 file's password; empty: the password is read from $QZ_SIGN_PASSWORD at build time")
set(QZ_SIGN_TIMESTAMP_URL "$ENV{QZ_SIGN_TIMESTAMP_URL}" CACHE STRING
  "RFC 3161 timestamp server for the signatures (optional; needs the network)")

set(QZ_SIGNING OFF)
if(WIN32 AND QZ_SIGN_PKCS12)
  find_program(QZ_OSSLSIGNCODE osslsigncode)
  if(NOT QZ_OSSLSIGNCODE)
    message(FATAL_ERROR "QZ_SIGN_PKCS12 is set but osslsigncode was not found: run scripts/setup-debian.sh")
  endif()
  if(NOT EXISTS "${QZ_SIGN_PKCS12}")
    message(FATAL_ERROR "QZ_SIGN_PKCS12 names no file: ${QZ_SIGN_PKCS12}")
  endif()
  if(QZ_SIGN_PASSWORD_FILE AND NOT EXISTS "${QZ_SIGN_PASSWORD_FILE}")
    message(FATAL_ERROR "QZ_SIGN_PASSWORD_FILE names no file: ${QZ_SIGN_PASSWORD_FILE}")
  endif()
  set(QZ_SIGNING ON)
  message(STATUS "Signing the Windows build with ${QZ_SIGN_PKCS12}")
endif()

if(QZ_SIGNING)
  set(QZ_SIGN_FILE_COMMAND ${CMAKE_SOURCE_DIR}/cmake/sign-file.sh --pkcs12 ${QZ_SIGN_PKCS12}
      --time ${QZ_SOURCE_DATE_EPOCH})
  if(QZ_SIGN_PASSWORD_FILE)
    list(APPEND QZ_SIGN_FILE_COMMAND --password-file ${QZ_SIGN_PASSWORD_FILE})
  endif()
  if(QZ_SIGN_TIMESTAMP_URL)
    list(APPEND QZ_SIGN_FILE_COMMAND --timestamp-url ${QZ_SIGN_TIMESTAMP_URL})
  endif()
  list(APPEND QZ_SIGN_FILE_COMMAND --)
else()
  set(QZ_SIGN_FILE_COMMAND ${CMAKE_COMMAND} -E true)
endif()

function(qz_sign_target target)
  if(QZ_SIGNING)
    add_custom_command(TARGET ${target} POST_BUILD
      COMMAND ${QZ_SIGN_FILE_COMMAND} $<TARGET_FILE:${target}>
      COMMENT "Signing $<TARGET_FILE_NAME:${target}>"
      VERBATIM)
  endif()
endfunction()
