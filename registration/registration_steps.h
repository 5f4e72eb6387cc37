// The thirteen registration steps. Every step takes the register flag first
// (nonzero registers, 0 unregisters) and returns nothing: failures are shown
// through ReportRegistrationError and the pass goes on. The driver that runs
// them in their one order lives above them, in module/registration_driver.h.
#pragma once

#include <string>

namespace qz {

// The register flag's two values; any nonzero flag registers.
inline constexpr int kRegister = 1;
inline constexpr int kUnregister = 0;

// The four Tools menu lines that step 3 writes.
extern const char* const MenuCustomizationLines[4];

// Steps, in the driver's order.
void RegisterCustomizationKey(int registerFlag, const std::string& modulePath);          // 1
void RegisterHelpMenu(int registerFlag);                                                 // 2
void RegisterMenuCustomization(int registerFlag, const char* const lines[], int count);  // 3
void RegisterDocumentSuffixes(int registerFlag);                                         // 4
void RegisterSuffixSetting(int registerFlag);                                            // 5
void RegisterLanguageDocumentType(int registerFlag, const std::string& modulePath);      // 6
void RegisterLibraryDocumentClass(int registerFlag);                                     // 7
void RegisterDefaultLibraries(int registerFlag);                                         // 8
void RegisterScriptLibrary(int registerFlag);                                            // 9
void RegisterDocumentObjectClass(int registerFlag, const std::string& modulePath);       // 10
void RegisterZozViewClass(int registerFlag);                                             // 11
void RegisterGuiDefaults(int registerFlag);                                              // 12
void RegisterApplicationClass(int registerFlag);                                         // 13

// Called by RegisterHelpMenu at its end, in register mode only.
void RegisterIniSettings();
// Called by RegisterLanguageDocumentType with its own copy of "[doc]\shell\".
void RegisterShellOpenCommands(std::string shellKeyPrefix);

}  // namespace qz
