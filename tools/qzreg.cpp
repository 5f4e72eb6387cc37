// qzreg: the native registration host. It loads the product module
// (libqzproduct.so), runs one register or unregister pass into the built-in
// registry folder, and prints what the pass changed as .reg text. Exit codes
// are regsvr32's.
#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "registry/reg_file.h"
#include "registry/registry_changes.h"
#include "registry/registry_folder.h"

namespace {

enum ExitCode { kSuccess = 0, kUsage = 1, kModuleNotLoaded = 3, kExportMissing = 4, kPassFailed = 5 };

const char kUsageText[] =
    "Usage: qzreg [OPTION]... register|unregister\n"
    "Register or unregister the Orvantis product module in the built-in registry,\n"
    "and print what the pass changed as .reg text.\n"
    "\n"
    "  -r, --registry DIR   the registry folder (default: $QZ_REGISTRY_DIR, else\n"
    "                       $XDG_STATE_HOME/orvantis/registry, else\n"
    "                       ~/.local/state/orvantis/registry)\n"
    "  -m, --module FILE    the module to load (default: ../lib/libqzproduct.so from\n"
    "                       qzreg's folder, else libqzproduct.so beside qzreg)\n"
    "  -i, --import FILE    import a .reg file into the registry folder before the\n"
    "                       pass (for instance an installation of the modelling\n"
    "                       system); may be given more than once\n"
    "  -q, --quiet          print nothing but errors\n"
    "  -h, --help           display this help and exit\n"
    "\n"
    "The registry folder holds one .reg file per root hive (HKEY_LOCAL_MACHINE.reg,\n"
    "HKEY_CURRENT_USER.reg), readable by people, regedit and Wine.\n"
    "\n"
    "Exit status, as regsvr32's:\n"
    "  0  the pass succeeded\n"
    "  1  bad arguments\n"
    "  3  the module could not be loaded\n"
    "  4  the module lacks the export\n"
    "  5  the pass failed (it reported at least one error, or the registry\n"
    "     folder could not be read or saved)\n";

struct Options {
    bool registering = true;
    bool quiet = false;
    std::string registry;
    std::string module;
    std::vector<std::string> imports;
};

std::string DefaultModulePath() {
    char self[PATH_MAX + 1] = {};
    const ssize_t length = readlink("/proc/self/exe", self, PATH_MAX);
    std::string directory = length > 0 ? std::string(self, static_cast<size_t>(length)) : std::string("./qzreg");
    directory.erase(directory.find_last_of('/') + 1);
    // Installed, the module sits in the library folder; in a build folder, beside qzreg.
    const std::string installed = directory + QZ_LIBDIR_FROM_BINDIR + "/libqzproduct.so";
    return access(installed.c_str(), F_OK) == 0 ? installed : directory + "libqzproduct.so";
}

std::optional<Options> ParseArguments(int argc, char** argv, int* exitCode) {
    Options options;
    std::optional<std::string> mode;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        auto takeValue = [&](std::string* target) {
            if (i + 1 >= argc) return false;
            *target = argv[++i];
            return true;
        };
        if (argument == "-h" || argument == "--help") {
            std::fputs(kUsageText, stdout);
            *exitCode = kSuccess;
            return std::nullopt;
        } else if (argument == "-q" || argument == "--quiet") {
            options.quiet = true;
        } else if (argument == "-r" || argument == "--registry") {
            if (!takeValue(&options.registry)) break;
        } else if (argument.compare(0, 11, "--registry=") == 0) {
            options.registry = argument.substr(11);
        } else if (argument == "-m" || argument == "--module") {
            if (!takeValue(&options.module)) break;
        } else if (argument.compare(0, 9, "--module=") == 0) {
            options.module = argument.substr(9);
        } else if (argument == "-i" || argument == "--import") {
            std::string file;
            if (!takeValue(&file)) break;
            options.imports.push_back(file);
        } else if (argument.compare(0, 9, "--import=") == 0) {
            options.imports.push_back(argument.substr(9));
        } else if ((argument == "register" || argument == "unregister") && !mode) {
            mode = argument;
        } else {
            std::fprintf(stderr, "qzreg: unexpected argument '%s'\n", argument.c_str());
            mode.reset();
            i = argc;
        }
    }
    if (!mode) {
        std::fputs("Usage: qzreg [OPTION]... register|unregister\nTry 'qzreg --help' for more information.\n",
                   stderr);
        *exitCode = kUsage;
        return std::nullopt;
    }
    options.registering = *mode == "register";
    if (options.module.empty()) options.module = DefaultModulePath();
    return options;
}

// A copy of the folder's registry as it stands now; the folder's lock is held
// only while it is read, so that the module's own pass can take it afterwards.
std::unique_ptr<qz::MemoryRegistry> ReadRegistry(const std::string& folder) {
    std::string error;
    std::unique_ptr<qz::RegistryFolder> open = qz::RegistryFolder::Open(folder, error);
    if (!open) {
        std::fprintf(stderr, "qzreg: %s\n", error.c_str());
        return nullptr;
    }
    return std::make_unique<qz::MemoryRegistry>(open->registry());
}

// Imports .reg files (5.00 or REGEDIT4) into the folder and saves it; the pass
// that follows then sees them as already there.
bool ImportFiles(const std::string& folder, const std::vector<std::string>& files) {
    if (files.empty()) return true;
    std::string error;
    std::unique_ptr<qz::RegistryFolder> open = qz::RegistryFolder::Open(folder, error);
    if (!open) {
        std::fprintf(stderr, "qzreg: %s\n", error.c_str());
        return false;
    }
    for (const std::string& file : files) {
        std::ifstream in(file, std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "qzreg: cannot read %s\n", file.c_str());
            return false;
        }
        const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        if (!qz::ImportRegText(qz::DecodeRegFileBytes(bytes), open->registry(), error)) {
            std::fprintf(stderr, "qzreg: %s: %s\n", file.c_str(), error.c_str());
            return false;
        }
    }
    if (!open->Save(error)) {
        std::fprintf(stderr, "qzreg: %s\n", error.c_str());
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    int exitCode = kUsage;
    const std::optional<Options> options = ParseArguments(argc, argv, &exitCode);
    if (!options) return exitCode;

    const std::string folder = options->registry.empty() ? qz::DefaultRegistryFolder() : options->registry;
    // The module finds its registry folder through QZ_REGISTRY_DIR.
    setenv("QZ_REGISTRY_DIR", folder.c_str(), 1);

    if (!ImportFiles(folder, options->imports)) return kPassFailed;
    std::unique_ptr<qz::MemoryRegistry> before = ReadRegistry(folder);
    if (!before) return kPassFailed;

    void* module = dlopen(options->module.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) {
        std::fprintf(stderr, "qzreg: cannot load %s: %s\n", options->module.c_str(), dlerror());
        return kModuleNotLoaded;
    }
    const char* exportName = options->registering ? "DllRegisterServer" : "DllUnregisterServer";
    using Export = std::int32_t (*)();
    auto entry = reinterpret_cast<Export>(dlsym(module, exportName));
    if (entry == nullptr) {
        std::fprintf(stderr, "qzreg: %s has no export %s\n", options->module.c_str(), exportName);
        dlclose(module);
        return kExportMissing;
    }
    const std::int32_t result = entry();
    dlclose(module);

    std::unique_ptr<qz::MemoryRegistry> after = ReadRegistry(folder);
    if (after && !options->quiet) std::fputs(qz::DescribeRegistryChanges(*before, *after).c_str(), stdout);

    if (result != 0 || !after) {
        std::fprintf(stderr, "qzreg: %s in %s failed (0x%08x)\n", exportName, options->module.c_str(),
                     static_cast<unsigned>(result));
        return kPassFailed;
    }
    if (!options->quiet)
        std::fprintf(stderr, "qzreg: %s in %s succeeded (registry folder %s)\n", exportName,
                     options->module.c_str(), folder.c_str());
    return kSuccess;
}
