# Authenticode signatures of the Windows build (cmake/sign-file.sh, Debian's osslsigncode).
#
# The signing key is either in a PKCS#12 file or in a PKCS#11 module (a hardware token, a
# network HSM or a cloud key service through its PKCS#11 library), named by these cache
# entries, which start from the environment variables of the same names when first
# configured:
#   QZ_SIGN_PKCS12         the .p12/.pfx file (certificate, chain and private key)
#   QZ_SIGN_PASSWORD_FILE  a file holding its password; without it the password is read
#                          from the environment variable QZ_SIGN_PASSWORD at build time
#   QZ_SIGN_PKCS11_MODULE  the PKCS#11 module (a .so file) that holds the key
#   QZ_SIGN_PKCS11_KEY     the key's pkcs11: URI (RFC 7512), "pkcs11:token=...;object=..."
#   QZ_SIGN_PKCS11_CERT    the certificate: a PEM/DER file (it may hold the chain after the
#                          signer's certificate) or the pkcs11: URI of a certificate object
#   QZ_SIGN_PIN_FILE       a file holding the token's PIN; without it the PIN is read from
#                          the environment variable QZ_SIGN_PIN at build time
#   QZ_SIGN_TIMESTAMP_URL  optional: an RFC 3161 timestamp server
# Neither the key nor the password or PIN belongs in the repository; the password and the
# PIN are never stored in the cache, never on a command line and never printed. Without
# QZ_SIGN_PKCS12 and QZ_SIGN_PKCS11_KEY nothing is signed; with both, configuring stops.
#
# Every file setting is resolved when it is configured: a relative path is taken from the
# folder cmake was run in (with a preset, usually the source folder) and stored in the cache
# as an absolute path, since the signing step runs in the build folder. A setting that names
# no file stops the configuration.
#
# qz_sign_target(TARGET) signs a DLL or program target in place right after it is linked, so
# that everything built from it afterwards (the MSI, the tests) takes the signed file.
# QZ_SIGN_FILE_COMMAND is the command that signs the files appended to it (a no-op without a
# key), for files made by custom commands, such as the MSI; QZ_SIGN_SETTINGS_FILE is the file
# it reads the settings from (a dependency of such commands).
set(QZ_SIGN_PKCS12 "$ENV{QZ_SIGN_PKCS12}" CACHE FILEPATH
  "PKCS#12 file of the code-signing certificate; empty: no PKCS#12 signing")
set(QZ_SIGN_PASSWORD_FILE "$ENV{QZ_SIGN_PASSWORD_FILE}" CACHE FILEPATH
  "File holding the PKCS#12 file's password; empty: the password is read from $QZ_SIGN_PASSWORD at build time")
set(QZ_SIGN_PKCS11_MODULE "$ENV{QZ_SIGN_PKCS11_MODULE}" CACHE FILEPATH
  "PKCS#11 module (.so) holding the signing key")
set(QZ_SIGN_PKCS11_KEY "$ENV{QZ_SIGN_PKCS11_KEY}" CACHE STRING
  "pkcs11: URI of the signing key in QZ_SIGN_PKCS11_MODULE; empty: no PKCS#11 signing")
set(QZ_SIGN_PKCS11_CERT "$ENV{QZ_SIGN_PKCS11_CERT}" CACHE STRING
  "Certificate of the PKCS#11 key: a PEM/DER file, or the pkcs11: URI of a certificate object")
set(QZ_SIGN_PIN_FILE "$ENV{QZ_SIGN_PIN_FILE}" CACHE FILEPATH
  "File holding the PKCS#11 token's PIN; empty: the PIN is read from $QZ_SIGN_PIN at build time")
set(QZ_SIGN_TIMESTAMP_URL "$ENV{QZ_SIGN_TIMESTAMP_URL}" CACHE STRING
  "RFC 3161 timestamp server for the signatures (optional; needs the network)")

# The folder cmake was run in: execute_process runs its command there.
execute_process(COMMAND pwd OUTPUT_VARIABLE qz_invocation_dir OUTPUT_STRIP_TRAILING_WHITESPACE)

# An absolute path into the cache for a setting that names a file, or a stop.
function(qz_resolve_signing_file setting)
  set(value "${${setting}}")
  if(value STREQUAL "")
    return()
  endif()
  if(NOT IS_ABSOLUTE "${value}")
    get_filename_component(value "${value}" ABSOLUTE BASE_DIR "${qz_invocation_dir}")
  endif()
  if(NOT EXISTS "${value}" OR IS_DIRECTORY "${value}")
    message(FATAL_ERROR "${setting} names no file: ${${setting}} (a relative path is taken from ${qz_invocation_dir})")
  endif()
  get_property(help CACHE ${setting} PROPERTY HELPSTRING)
  get_property(type CACHE ${setting} PROPERTY TYPE)
  set(${setting} "${value}" CACHE ${type} "${help}" FORCE)
  set(${setting} "${value}" PARENT_SCOPE)
endfunction()

set(QZ_SIGNING OFF)
if(WIN32 AND (QZ_SIGN_PKCS12 OR QZ_SIGN_PKCS11_KEY))
  find_program(QZ_OSSLSIGNCODE osslsigncode)
  if(NOT QZ_OSSLSIGNCODE)
    message(FATAL_ERROR "A signing key is configured but osslsigncode was not found: run scripts/setup-debian.sh")
  endif()
  if(QZ_SIGN_PKCS12 AND QZ_SIGN_PKCS11_KEY)
    message(FATAL_ERROR "Both QZ_SIGN_PKCS12 (${QZ_SIGN_PKCS12}) and QZ_SIGN_PKCS11_KEY (${QZ_SIGN_PKCS11_KEY}) are set: name one key")
  endif()
  if(QZ_SIGN_PKCS12)
    qz_resolve_signing_file(QZ_SIGN_PKCS12)
    qz_resolve_signing_file(QZ_SIGN_PASSWORD_FILE)
    message(STATUS "Signing the Windows build with ${QZ_SIGN_PKCS12}")
  else()
    if(NOT QZ_SIGN_PKCS11_KEY MATCHES "^pkcs11:")
      message(FATAL_ERROR "QZ_SIGN_PKCS11_KEY must be a pkcs11: URI (RFC 7512): ${QZ_SIGN_PKCS11_KEY}")
    endif()
    if("${QZ_SIGN_PKCS11_KEY}${QZ_SIGN_PKCS11_CERT}" MATCHES "pin-value=|pin-source=")
      message(FATAL_ERROR "QZ_SIGN_PKCS11_KEY or QZ_SIGN_PKCS11_CERT carries a PIN: give it in QZ_SIGN_PIN_FILE or QZ_SIGN_PIN instead")
    endif()
    if(NOT QZ_SIGN_PKCS11_MODULE)
      message(FATAL_ERROR "QZ_SIGN_PKCS11_KEY is set but QZ_SIGN_PKCS11_MODULE, the PKCS#11 module that holds it, is not")
    endif()
    if(NOT QZ_SIGN_PKCS11_CERT)
      message(FATAL_ERROR "QZ_SIGN_PKCS11_KEY is set but QZ_SIGN_PKCS11_CERT, its certificate (a file or a pkcs11: URI), is not")
    endif()
    qz_resolve_signing_file(QZ_SIGN_PKCS11_MODULE)
    if(NOT QZ_SIGN_PKCS11_CERT MATCHES "^pkcs11:")
      qz_resolve_signing_file(QZ_SIGN_PKCS11_CERT)
    endif()
    qz_resolve_signing_file(QZ_SIGN_PIN_FILE)
    message(STATUS "Signing the Windows build with the key ${QZ_SIGN_PKCS11_KEY} of ${QZ_SIGN_PKCS11_MODULE}")
  endif()
  set(QZ_SIGNING ON)
endif()

set(QZ_SIGN_SETTINGS_FILE ${CMAKE_BINARY_DIR}/signing/sign-settings.txt)
if(QZ_SIGNING)
  # The settings reach sign-file.sh through a file: a key URI's ";" would split a CMake
  # command line. Paths and URIs only, never a password or a PIN.
  set(qz_sign_settings "")
  if(QZ_SIGN_PKCS12)
    string(APPEND qz_sign_settings "pkcs12=${QZ_SIGN_PKCS12}\n")
    if(QZ_SIGN_PASSWORD_FILE)
      string(APPEND qz_sign_settings "password-file=${QZ_SIGN_PASSWORD_FILE}\n")
    endif()
  else()
    string(APPEND qz_sign_settings "pkcs11-module=${QZ_SIGN_PKCS11_MODULE}\n"
                                   "pkcs11-key=${QZ_SIGN_PKCS11_KEY}\n"
                                   "pkcs11-cert=${QZ_SIGN_PKCS11_CERT}\n")
    if(QZ_SIGN_PIN_FILE)
      string(APPEND qz_sign_settings "pin-file=${QZ_SIGN_PIN_FILE}\n")
    endif()
  endif()
  if(QZ_SIGN_TIMESTAMP_URL)
    string(APPEND qz_sign_settings "timestamp-url=${QZ_SIGN_TIMESTAMP_URL}\n")
  endif()
  string(APPEND qz_sign_settings "time=${QZ_SOURCE_DATE_EPOCH}\n")
  # Rewritten only when it changes, so that configuring again signs nothing again.
  file(WRITE ${QZ_SIGN_SETTINGS_FILE}.new "${qz_sign_settings}")
  configure_file(${QZ_SIGN_SETTINGS_FILE}.new ${QZ_SIGN_SETTINGS_FILE} COPYONLY)
  file(REMOVE ${QZ_SIGN_SETTINGS_FILE}.new)
  # The signing settings come from this file alone, not from the build's environment.
  set(QZ_SIGN_FILE_COMMAND env -u QZ_SIGN_PKCS12 -u QZ_SIGN_PASSWORD_FILE -u QZ_SIGN_PKCS11_MODULE
      -u QZ_SIGN_PKCS11_KEY -u QZ_SIGN_PKCS11_CERT -u QZ_SIGN_PIN_FILE -u QZ_SIGN_TIMESTAMP_URL
      ${CMAKE_SOURCE_DIR}/cmake/sign-file.sh --settings ${QZ_SIGN_SETTINGS_FILE} --)
else()
  file(REMOVE ${QZ_SIGN_SETTINGS_FILE})
  set(QZ_SIGN_FILE_COMMAND ${CMAKE_COMMAND} -E true)
endif()

# One signing at a time: a token locks its PIN after a few wrong tries, and with a wrong PIN
# every signing step started in parallel would be one more try. With the steps in one pool of
# depth 1 (Ninja), the first refusal stops the build before the next step starts.
if(QZ_SIGNING)
  set_property(GLOBAL APPEND PROPERTY JOB_POOLS qz_signing=1)
endif()

function(qz_sign_target target)
  if(QZ_SIGNING)
    set_property(TARGET ${target} PROPERTY JOB_POOL_LINK qz_signing)
    # sign-file.sh prints "Signing NAME ...": Ninja shows a step's output, not its comment.
    add_custom_command(TARGET ${target} POST_BUILD
      COMMAND ${QZ_SIGN_FILE_COMMAND} $<TARGET_FILE:${target}>
      VERBATIM)
    # A changed key or setting signs again: the settings file is a link dependency.
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${QZ_SIGN_SETTINGS_FILE})
  endif()
endfunction()
