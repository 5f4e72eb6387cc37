#include "module/registration_steps.h"

#include "module/module_state.h"

namespace qz {

// The thirteen steps, in the one order both modes use. The application class
// comes last: in unregister mode it removes the CurVer key, and every earlier
// step must ask IsCurrentApplicationVersion against the registry as it stood
// before the pass.
void RunRegistrationSteps(int registerFlag) {
    const std::string& modulePath = ModulePath();
    RegisterCustomizationKey(registerFlag, modulePath);
    RegisterHelpMenu(registerFlag);
    RegisterMenuCustomization(registerFlag, MenuCustomizationLines, 4);
    RegisterDocumentSuffixes(registerFlag);
    RegisterSuffixSetting(registerFlag);
    RegisterLanguageDocumentType(registerFlag, modulePath);
    RegisterLibraryDocumentClass(registerFlag);
    RegisterDefaultLibraries(registerFlag);
    RegisterScriptLibrary(registerFlag);
    RegisterDocumentObjectClass(registerFlag, modulePath);
    RegisterZozViewClass(registerFlag);
    RegisterGuiDefaults(registerFlag);
    RegisterApplicationClass(registerFlag);
}

}  // namespace qz
