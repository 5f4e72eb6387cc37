# The product as an MSI package.
#
# Windows build: the default target makes bin/qzproduct.msi, one package for every machine. It
# carries no registry rows: its custom action (qzaction.dll, the target qzaction) runs the
# module's own pass as the package installs, repairs or is removed, on an overlay of that
# machine's registry, and hands what the pass changes to Windows Installer as temporary rows.
#   cmake/qzproduct.wxs.in   the package's WiX source; its version, codes and folder derive from
#                            QZ_PRODUCT_VERSION and the build number (QZ_BUILD_NUMBER)
#   cmake/wixl-package.sh    builds it with Debian's wixl and adds what wixl leaves out (file
#                            versions, secure properties, the install folder's permissions, the
#                            empty Registry and RemoveRegistry tables the action writes its rows into)
# and then makes the package's dates and package code reproducible (wixl-package.sh gives the
# files SOURCE_DATE_EPOCH, cmake/msi-reproducible.py the summary times and a name-based package code)
# and signs it when a certificate is configured (cmake/signing.cmake); the action is signed
# after it is linked, before it goes into the package.
if(NOT WIN32)
  return()
endif()

find_program(QZ_WIXL wixl)
find_program(QZ_MSIBUILD msibuild)
find_program(QZ_MSIINFO msiinfo)
# Debian's own Python, for which the libmsi bindings (gir1.2-libmsi-1.0) are installed.
find_program(QZ_SYSTEM_PYTHON3 python3 PATHS /usr/bin NO_DEFAULT_PATH)

# The custom action: mingw, static, one DLL that Windows Installer runs from the Binary table. It
# links the module's own code and compiled resources (the registration, the module's services, the
# registry layer, the string table of resources/product.rc) and runs the registration in-process,
# recording the installed module's path: it writes and loads no other DLL.
add_library(qzaction SHARED
  ${CMAKE_SOURCE_DIR}/tools/qzaction/action_win32.cpp
  ${CMAKE_SOURCE_DIR}/tools/qzaction/msi_session_win32.cpp
  ${CMAKE_SOURCE_DIR}/tools/qzaction/installer_rows.cpp
  ${CMAKE_SOURCE_DIR}/tools/qzaction/logon_command.cpp
  ${CMAKE_SOURCE_DIR}/tools/qzaction/package_rules_win32.cpp
  ${CMAKE_SOURCE_DIR}/tools/qzaction/machine_environment_win32.cpp)
set_target_properties(qzaction PROPERTIES PREFIX "" OUTPUT_NAME qzaction)
# "-lmsi", not "msi": the package target has that name; userenv gives the machine's own environment.
# Only the string table of resources/product.rc (the pass reads nothing else), and no symbols:
# Windows Installer writes the action to a file and loads it on every run.
target_link_libraries(qzaction PRIVATE qz_host qz_module qz_string_table_resources -lmsi -luserenv)
target_link_options(qzaction PRIVATE -s)
qz_sign_target(qzaction)

# A DLL action that does nothing, the floor of any action: scripts/bench-msi.sh adds it to the
# statically harvested package to time the package's action against it.
add_library(qznoopaction SHARED EXCLUDE_FROM_ALL ${CMAKE_SOURCE_DIR}/tests/timing/noop_action.cpp)
set_target_properties(qznoopaction PROPERTIES PREFIX "" OUTPUT_NAME qznoopaction)
target_link_libraries(qznoopaction PRIVATE -lmsi)

# The build number: every build of a product version is a major upgrade of the one before, so each
# has its own ProductCode and a higher ProductVersion, MAJOR.MINOR.BUILD (Windows Installer compares
# the first three fields only). A release sets it; by default it is the number of commits up to the
# one that is built, which grows with every commit and is the same for every build of a commit.
set(QZ_BUILD_NUMBER "" CACHE STRING "The package's build number, 0-65535 (empty: the number of commits up to HEAD)")
if(QZ_BUILD_NUMBER STREQUAL "")
  execute_process(COMMAND git -C ${CMAKE_SOURCE_DIR} rev-list --count HEAD
    OUTPUT_VARIABLE qz_build_number OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE qz_git_result ERROR_QUIET)
  if(NOT qz_git_result EQUAL 0 OR NOT qz_build_number MATCHES "^[0-9]+$")
    message(WARNING "No git history to count: the package's build number is 1; set QZ_BUILD_NUMBER for a release")
    set(qz_build_number 1)
  endif()
else()
  set(qz_build_number ${QZ_BUILD_NUMBER})
endif()
if(NOT qz_build_number MATCHES "^[0-9]+$" OR qz_build_number GREATER 65535)
  message(FATAL_ERROR "QZ_BUILD_NUMBER must be a number from 0 to 65535, not '${qz_build_number}'")
endif()

# The package's identity. A version of the product is a product of its own beside the others (its
# own UpgradeCode); each build of it its own ProductCode. Every code is a name-based UUID, so the
# same version and build give the same codes.
set(QZ_MSI_MANUFACTURER "Corvalen")
set(QZ_MSI_PRODUCT_NAME "Orvantis ${QZ_PRODUCT_VERSION}")
# The package's own key: the folder the administrator chose, read back on repair and upgrade.
set(QZ_MSI_FOLDER_KEY "Software\\Corvalen\\Installations\\${QZ_MSI_PRODUCT_NAME}")
set(qz_msi_namespace "5DB82D13-CBC0-4830-8F23-85C6A10709A6")
string(UUID QZ_MSI_UPGRADE_CODE NAMESPACE ${qz_msi_namespace} NAME "upgrade:${QZ_PRODUCT_VERSION}" TYPE SHA1 UPPER)
string(UUID QZ_MSI_MODULE_COMPONENT NAMESPACE ${qz_msi_namespace} NAME "module:${QZ_PRODUCT_VERSION}" TYPE SHA1 UPPER)
string(UUID QZ_MSI_HOST_COMPONENT NAMESPACE ${qz_msi_namespace} NAME "host:${QZ_PRODUCT_VERSION}" TYPE SHA1 UPPER)
string(UUID QZ_MSI_FOLDER_COMPONENT NAMESPACE ${qz_msi_namespace} NAME "folder:${QZ_PRODUCT_VERSION}" TYPE SHA1 UPPER)
string(UUID QZ_MSI_LOGON_COMPONENT NAMESPACE ${qz_msi_namespace} NAME "logon:${QZ_PRODUCT_VERSION}" TYPE SHA1 UPPER)
# The product version's Active Setup entry: each user's part of the registration at logon.
string(UUID QZ_MSI_ACTIVE_SETUP_CODE NAMESPACE ${qz_msi_namespace} NAME "activesetup:${QZ_PRODUCT_VERSION}" TYPE SHA1 UPPER)
foreach(code QZ_MSI_UPGRADE_CODE QZ_MSI_MODULE_COMPONENT QZ_MSI_HOST_COMPONENT QZ_MSI_FOLDER_COMPONENT
             QZ_MSI_LOGON_COMPONENT QZ_MSI_ACTIVE_SETUP_CODE)
  set(${code} "{${${code}}}")
endforeach()
set(QZ_MSI_ACTIVE_SETUP_KEY "Software\\Microsoft\\Active Setup\\Installed Components\\${QZ_MSI_ACTIVE_SETUP_CODE}")
# The install folder's own DACL, protected from what the folder it is made in grants: SYSTEM and
# Administrators full control, Users read and execute, inherited by the files in it. (A CMake
# variable holding semicolons: commands take it through $<SEMICOLON>.)
set(QZ_MSI_FOLDER_SDDL "D:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;BU)")

# qz_msi_wxs(BUILD OUT): the package's WiX source for one build number.
function(qz_msi_wxs build out)
  set(QZ_MSI_PRODUCT_VERSION "${QZ_VERSION_MAJOR}.${QZ_VERSION_MINOR}.${build}")
  string(UUID QZ_MSI_PRODUCT_CODE NAMESPACE ${qz_msi_namespace} NAME "product:${QZ_MSI_PRODUCT_VERSION}" TYPE SHA1 UPPER)
  set(QZ_MSI_PRODUCT_CODE "{${QZ_MSI_PRODUCT_CODE}}")
  set(QZ_MSI_ACTIVE_SETUP_VERSION "${QZ_VERSION_MAJOR},${QZ_VERSION_MINOR},${build}")
  configure_file(${CMAKE_SOURCE_DIR}/cmake/qzproduct.wxs.in ${out} @ONLY)
endfunction()

set(QZ_MSI_PRODUCT_VERSION "${QZ_VERSION_MAJOR}.${QZ_VERSION_MINOR}.${qz_build_number}")
set(QZ_MSI_WXS ${CMAKE_BINARY_DIR}/msi/qzproduct.wxs)
qz_msi_wxs(${qz_build_number} ${QZ_MSI_WXS})
# The version every file of the package states in its version block (resources/product.rc,
# tools/qzreg/qzreg.rc): the same in every build, the product's version the host reads.
set(QZ_FILE_VERSION "${QZ_VERSION_MAJOR}.${QZ_VERSION_MINOR}.0.${QZ_VERSION_BUILD}")
# qz_msi_package_file_version(BUILD OUT): what the File table states for the files of the product's
# folder, the file's own version with the build number in its third field (0 in the file). Windows
# Installer replaces a file only with a higher version: with the version block's alone, every build
# would keep a module a running host holds, and the next build would never reach it.
function(qz_msi_package_file_version build out)
  set(${out} "${QZ_VERSION_MAJOR}.${QZ_VERSION_MINOR}.${build}.${QZ_VERSION_BUILD}" PARENT_SCOPE)
endfunction()
qz_msi_package_file_version(${qz_build_number} QZ_MSI_FILE_VERSION)

set(QZ_MSI_FILE ${CMAKE_BINARY_DIR}/bin/qzproduct.msi)
if(NOT QZ_WIXL OR NOT QZ_MSIBUILD OR NOT QZ_MSIINFO OR NOT QZ_SYSTEM_PYTHON3)
  add_custom_target(msi
    COMMAND ${CMAKE_COMMAND} -E echo
      "msi: wixl, msibuild, msiinfo or /usr/bin/python3 were not found: install Debian's wixl, msitools, python3-gi and gir1.2-libmsi-1.0 (scripts/setup-debian.sh), then configure again"
    COMMAND ${CMAKE_COMMAND} -E false
    VERBATIM)
  return()
endif()

set(qz_msi_tools --wixl ${QZ_WIXL} --msibuild ${QZ_MSIBUILD} --msiinfo ${QZ_MSIINFO})
# qz_msi_build_options(BUILD OUT): what wixl-package.sh adds to the package of one build.
# qzevents.dll, shared by every version's package, states its own version: a newer one replaces an
# older one.
function(qz_msi_build_options build out)
  qz_msi_package_file_version(${build} version)
  string(REPLACE ";" "$<SEMICOLON>" sddl "${QZ_MSI_FOLDER_SDDL}")
  set(${out} --file-version qzproduct.dll=${version} --file-version qzreg.exe=${version}
    --file-version qzevents.dll=${QZ_FILE_VERSION}
    --secure-property INSTALLFOLDER
    --lock-folder "INSTALLFOLDER=${sddl}" PARENT_SCOPE)
endfunction()
qz_msi_build_options(${qz_build_number} qz_msi_versions)
add_custom_command(OUTPUT ${QZ_MSI_FILE}
  COMMAND ${CMAKE_SOURCE_DIR}/cmake/wixl-package.sh ${qz_msi_tools} ${qz_msi_versions}
          --source-date-epoch ${QZ_SOURCE_DATE_EPOCH} ${QZ_MSI_WXS} $<TARGET_FILE_DIR:qzproduct> ${QZ_MSI_FILE}
  COMMAND ${QZ_SYSTEM_PYTHON3} ${CMAKE_SOURCE_DIR}/cmake/msi-reproducible.py ${QZ_MSI_FILE} ${QZ_SOURCE_DATE_EPOCH}
  COMMAND ${QZ_SIGN_FILE_COMMAND} ${QZ_MSI_FILE}
  DEPENDS ${QZ_MSI_WXS} qzproduct qzreg qzaction qzevents ${CMAKE_SOURCE_DIR}/cmake/wixl-package.sh
          ${CMAKE_SOURCE_DIR}/cmake/msi-reproducible.py ${CMAKE_SOURCE_DIR}/cmake/sign-file.sh
  COMMENT "Building the package with wixl: ${QZ_MSI_FILE}"
  VERBATIM)
add_custom_target(msi ALL DEPENDS ${QZ_MSI_FILE})

# ---- packages only the tests install (never released) -----------------------------------
# The next build (build number + 1) carries a module that differs from this build's (the same
# file with bytes appended, which the loader ignores), so that a test sees which one is installed;
# the older build (build number - 1) must be refused over this one, and so must another commit's
# package with this build's number (same-build); the rollback copy is this package with a deferred
# action after WriteRegistryValues that fails (cmd.exe /c exit 1, type 34 + 1024: an executable
# run in a folder, deferred), and the leaves-held copy this package without QzScheduleHeldFiles, so
# that the product carries no test hook.
set(qz_test_packages ${CMAKE_BINARY_DIR}/msi/test-packages)
math(EXPR qz_next_build "${qz_build_number} + 1")
set(QZ_MSI_NEXT_FILE ${qz_test_packages}/next/qzproduct.msi)
qz_msi_wxs(${qz_next_build} ${qz_test_packages}/next/qzproduct.wxs)
set(qz_next_files ${qz_test_packages}/next/files)
qz_msi_build_options(${qz_next_build} qz_next_versions)
add_custom_command(OUTPUT ${QZ_MSI_NEXT_FILE}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${qz_next_files}
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:qzreg> $<TARGET_FILE:qzaction> $<TARGET_FILE:qzevents> ${qz_next_files}
  COMMAND sh -c "cat \"$0\" >\"$1\" && printf 'next build %s' \"$2\" >>\"$1\""
          $<TARGET_FILE:qzproduct> ${qz_next_files}/qzproduct.dll ${qz_next_build}
  COMMAND ${CMAKE_SOURCE_DIR}/cmake/wixl-package.sh ${qz_msi_tools} ${qz_next_versions}
          ${qz_test_packages}/next/qzproduct.wxs ${qz_next_files} ${QZ_MSI_NEXT_FILE}
  DEPENDS ${qz_test_packages}/next/qzproduct.wxs qzproduct qzreg qzaction qzevents ${CMAKE_SOURCE_DIR}/cmake/wixl-package.sh
  COMMENT "The next build's package, for the tests: ${QZ_MSI_NEXT_FILE}"
  VERBATIM)
set(qz_test_package_files ${QZ_MSI_NEXT_FILE})
set(QZ_MSI_OLDER_FILE "")
if(qz_build_number GREATER 0)
  math(EXPR qz_older_build "${qz_build_number} - 1")
  set(QZ_MSI_OLDER_FILE ${qz_test_packages}/older/qzproduct.msi)
  qz_msi_wxs(${qz_older_build} ${qz_test_packages}/older/qzproduct.wxs)
  qz_msi_build_options(${qz_older_build} qz_older_versions)
  add_custom_command(OUTPUT ${QZ_MSI_OLDER_FILE}
    COMMAND ${CMAKE_SOURCE_DIR}/cmake/wixl-package.sh ${qz_msi_tools} ${qz_older_versions}
            ${qz_test_packages}/older/qzproduct.wxs $<TARGET_FILE_DIR:qzproduct> ${QZ_MSI_OLDER_FILE}
    DEPENDS ${qz_test_packages}/older/qzproduct.wxs qzproduct qzreg qzaction qzevents ${CMAKE_SOURCE_DIR}/cmake/wixl-package.sh
    COMMENT "The older build's package, for the tests: ${QZ_MSI_OLDER_FILE}"
    VERBATIM)
  list(APPEND qz_test_package_files ${QZ_MSI_OLDER_FILE})
endif()
# A build of another commit with this build's number: this build's WiX source (its ProductCode) and
# a module that differs (bytes appended, as the next build's), so another package code.
set(QZ_MSI_SAME_BUILD_FILE ${qz_test_packages}/same-build/qzproduct.msi)
set(qz_same_build_files ${qz_test_packages}/same-build/files)
add_custom_command(OUTPUT ${QZ_MSI_SAME_BUILD_FILE}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${qz_same_build_files}
  COMMAND ${CMAKE_COMMAND} -E copy $<TARGET_FILE:qzreg> $<TARGET_FILE:qzaction> $<TARGET_FILE:qzevents> ${qz_same_build_files}
  COMMAND sh -c "cat \"$0\" >\"$1\" && printf 'another commit of build %s' \"$2\" >>\"$1\""
          $<TARGET_FILE:qzproduct> ${qz_same_build_files}/qzproduct.dll ${qz_build_number}
  COMMAND ${CMAKE_SOURCE_DIR}/cmake/wixl-package.sh ${qz_msi_tools} ${qz_msi_versions}
          ${QZ_MSI_WXS} ${qz_same_build_files} ${QZ_MSI_SAME_BUILD_FILE}
  DEPENDS ${QZ_MSI_WXS} qzproduct qzreg qzaction qzevents ${CMAKE_SOURCE_DIR}/cmake/wixl-package.sh
  COMMENT "A package of another commit with this build's number, for the tests: ${QZ_MSI_SAME_BUILD_FILE}"
  VERBATIM)
list(APPEND qz_test_package_files ${QZ_MSI_SAME_BUILD_FILE})
set(QZ_MSI_ROLLBACK_FILE ${qz_test_packages}/rollback/qzproduct.msi)
add_custom_command(OUTPUT ${QZ_MSI_ROLLBACK_FILE}
  COMMAND ${CMAKE_COMMAND} -E copy ${QZ_MSI_FILE} ${QZ_MSI_ROLLBACK_FILE}
  COMMAND ${QZ_MSIBUILD} ${QZ_MSI_ROLLBACK_FILE}
          -q "INSERT INTO `CustomAction` (`Action`, `Type`, `Source`, `Target`) VALUES ('TestFailAfterRegistry', 1058, 'INSTALLFOLDER', 'cmd.exe /c exit 1')"
          -q "INSERT INTO `InstallExecuteSequence` (`Action`, `Sequence`) VALUES ('TestFailAfterRegistry', 5010)"
  COMMAND sh -c "\"$0\" export \"$1\" CustomAction | grep -q '^TestFailAfterRegistry\t1058'" ${QZ_MSIINFO} ${QZ_MSI_ROLLBACK_FILE}
  DEPENDS ${QZ_MSI_FILE}
  COMMENT "The package with a failing deferred action, for the rollback test: ${QZ_MSI_ROLLBACK_FILE}"
  VERBATIM)
list(APPEND qz_test_package_files ${QZ_MSI_ROLLBACK_FILE})
# This package without QzScheduleHeldFiles: its removal leaves a module a host holds where it is,
# as the builds before that action did, so that the next build must replace it by its version.
set(QZ_MSI_LEAVES_HELD_FILE ${qz_test_packages}/leaves-held/qzproduct.msi)
add_custom_command(OUTPUT ${QZ_MSI_LEAVES_HELD_FILE}
  COMMAND ${CMAKE_COMMAND} -E copy ${QZ_MSI_FILE} ${QZ_MSI_LEAVES_HELD_FILE}
  COMMAND ${QZ_MSIBUILD} ${QZ_MSI_LEAVES_HELD_FILE}
          -q "DELETE FROM `InstallExecuteSequence` WHERE `Action` = 'QzScheduleHeldFiles'"
  COMMAND sh -c "! \"$0\" export \"$1\" InstallExecuteSequence | grep -q '^QzScheduleHeldFiles'" ${QZ_MSIINFO} ${QZ_MSI_LEAVES_HELD_FILE}
  DEPENDS ${QZ_MSI_FILE}
  COMMENT "The package whose removal leaves held files, for the upgrade test: ${QZ_MSI_LEAVES_HELD_FILE}"
  VERBATIM)
list(APPEND qz_test_package_files ${QZ_MSI_LEAVES_HELD_FILE})
add_custom_target(msi-test-packages ALL DEPENDS ${qz_test_package_files})
