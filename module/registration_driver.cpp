#include "module/registration_driver.h"

#include "registration/module_state.h"
#include "registration/registration_steps.h"

namespace qz {
namespace {

// The thirteen steps, in the one order both modes use. The application class
// comes last: in unregister mode it removes the CurVer key, and every earlier
// step must ask IsCurrentApplicationVersion against the registry as it stood
// before the pass.
const RegistrationStep kRegistrationSteps[] = {
    {"RegisterCustomizationKey", [](int flag, const std::string& path) { RegisterCustomizationKey(flag, path); }},
    {"RegisterHelpMenu", [](int flag, const std::string&) { RegisterHelpMenu(flag); }},
    {"RegisterMenuCustomization",
     [](int flag, const std::string&) { RegisterMenuCustomization(flag, MenuCustomizationLines, 4); }},
    {"RegisterDocumentSuffixes", [](int flag, const std::string&) { RegisterDocumentSuffixes(flag); }},
    {"RegisterSuffixSetting", [](int flag, const std::string&) { RegisterSuffixSetting(flag); }},
    {"RegisterLanguageDocumentType",
     [](int flag, const std::string& path) { RegisterLanguageDocumentType(flag, path); }},
    {"RegisterLibraryDocumentClass", [](int flag, const std::string&) { RegisterLibraryDocumentClass(flag); }},
    {"RegisterDefaultLibraries", [](int flag, const std::string&) { RegisterDefaultLibraries(flag); }},
    {"RegisterScriptLibrary", [](int flag, const std::string&) { RegisterScriptLibrary(flag); }},
    {"RegisterDocumentObjectClass",
     [](int flag, const std::string& path) { RegisterDocumentObjectClass(flag, path); }},
    {"RegisterZozViewClass", [](int flag, const std::string&) { RegisterZozViewClass(flag); }},
    {"RegisterGuiDefaults", [](int flag, const std::string&) { RegisterGuiDefaults(flag); }},
    {"RegisterApplicationClass", [](int flag, const std::string&) { RegisterApplicationClass(flag); }},
};

}  // namespace

const RegistrationStep* RegistrationSteps(int& count) {
    count = static_cast<int>(sizeof kRegistrationSteps / sizeof kRegistrationSteps[0]);
    return kRegistrationSteps;
}

void RunRegistrationSteps(int registerFlag) {
    const std::string& modulePath = ModulePath();
    for (const RegistrationStep& step : kRegistrationSteps) step.run(registerFlag, modulePath);
}

}  // namespace qz
