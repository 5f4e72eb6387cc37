# The product as an MSI package.
#
# Windows build: the default target makes bin/qzproduct.msi, one package for every machine. It
# carries no registry rows: its custom action (qzaction.dll, the target qzaction) runs the
# module's own pass as the package installs, repairs or is removed, on an overlay of that
# machine's registry, and hands what the pass changes to Windows Installer as temporary rows.
#   cmake/qzproduct.wxs.in   the package's WiX source; its version, codes and folder derive from
#                            QZ_PRODUCT_VERSION
#   cmake/wixl-package.sh    builds it with Debian's wixl and adds the empty Registry and
#                            RemoveRegistry tables the action writes its rows into
# and then makes the package's dates and package code reproducible (cmake/msi-reproducible.sh)
# and signs it when a certificate is configured (cmake/signing.cmake); the action is signed
# after it is linked, before it goes into the package.
if(NOT WIN32)
  return()
endif()

find_program(QZ_WIXL wixl)
find_program(QZ_MSIBUILD msibuild)
find_program(QZ_MSIINFO msiinfo)

# The custom action: mingw, static, one DLL that Windows Installer loads from the Binary table.
# It runs the module it finds beside itself in that table through the module's host entry point
# (tools/qzreg/module_library), so the passes exist once, in qzproduct.dll.
add_library(qzaction SHARED
  ${CMAKE_SOURCE_DIR}/tools/qzaction/action_win32.cpp
  ${CMAKE_SOURCE_DIR}/tools/qzaction/msi_session_win32.cpp
  ${CMAKE_SOURCE_DIR}/tools/qzaction/installer_rows.cpp
  ${CMAKE_SOURCE_DIR}/tools/qzreg/module_library_win32.cpp)
set_target_properties(qzaction PROPERTIES PREFIX "" OUTPUT_NAME qzaction)
# "-lmsi", not "msi": the package target has that name.
target_link_libraries(qzaction PRIVATE qz_registry -lmsi)
qz_sign_target(qzaction)

# The package's identity, from the product version: a version of the product is a product of
# its own beside the others (its own UpgradeCode; a newer build of it replaces an older one),
# and every code is a name-based UUID, so the same version gives the same codes.
set(QZ_MSI_MANUFACTURER "Corvalen")
set(QZ_MSI_PRODUCT_NAME "Orvantis ${QZ_PRODUCT_VERSION}")
set(qz_msi_namespace "5DB82D13-CBC0-4830-8F23-85C6A10709A6")
string(UUID QZ_MSI_UPGRADE_CODE NAMESPACE ${qz_msi_namespace} NAME "upgrade:${QZ_PRODUCT_VERSION}" TYPE SHA1 UPPER)
string(UUID QZ_MSI_PRODUCT_CODE NAMESPACE ${qz_msi_namespace} NAME "product:${PROJECT_VERSION}" TYPE SHA1 UPPER)
string(UUID QZ_MSI_MODULE_COMPONENT NAMESPACE ${qz_msi_namespace} NAME "module:${QZ_PRODUCT_VERSION}" TYPE SHA1 UPPER)
string(UUID QZ_MSI_HOST_COMPONENT NAMESPACE ${qz_msi_namespace} NAME "host:${QZ_PRODUCT_VERSION}" TYPE SHA1 UPPER)
foreach(code QZ_MSI_UPGRADE_CODE QZ_MSI_PRODUCT_CODE QZ_MSI_MODULE_COMPONENT QZ_MSI_HOST_COMPONENT)
  set(${code} "{${${code}}}")
endforeach()
set(QZ_MSI_WXS ${CMAKE_BINARY_DIR}/msi/qzproduct.wxs)
configure_file(${CMAKE_SOURCE_DIR}/cmake/qzproduct.wxs.in ${QZ_MSI_WXS} @ONLY)

set(QZ_MSI_FILE ${CMAKE_BINARY_DIR}/bin/qzproduct.msi)
if(NOT QZ_WIXL OR NOT QZ_MSIBUILD OR NOT QZ_MSIINFO)
  add_custom_target(msi
    COMMAND ${CMAKE_COMMAND} -E echo
      "msi: wixl, msibuild and msiinfo were not found: install Debian's wixl and msitools (scripts/setup-debian.sh), then configure again"
    COMMAND ${CMAKE_COMMAND} -E false
    VERBATIM)
else()
  add_custom_command(OUTPUT ${QZ_MSI_FILE}
    COMMAND ${CMAKE_SOURCE_DIR}/cmake/wixl-package.sh
            --wixl ${QZ_WIXL} --msibuild ${QZ_MSIBUILD} --msiinfo ${QZ_MSIINFO}
            ${QZ_MSI_WXS} $<TARGET_FILE_DIR:qzproduct> ${QZ_MSI_FILE}
    COMMAND ${CMAKE_SOURCE_DIR}/cmake/msi-reproducible.sh --msibuild ${QZ_MSIBUILD} --msiinfo ${QZ_MSIINFO}
            ${QZ_MSI_FILE} ${QZ_SOURCE_DATE_EPOCH}
    COMMAND ${QZ_SIGN_FILE_COMMAND} ${QZ_MSI_FILE}
    DEPENDS ${QZ_MSI_WXS} qzproduct qzreg qzaction ${CMAKE_SOURCE_DIR}/cmake/wixl-package.sh
            ${CMAKE_SOURCE_DIR}/cmake/msi-reproducible.sh ${CMAKE_SOURCE_DIR}/cmake/sign-file.sh
    COMMENT "Building the package with wixl: ${QZ_MSI_FILE}"
    VERBATIM)
  add_custom_target(msi ALL DEPENDS ${QZ_MSI_FILE})
endif()
