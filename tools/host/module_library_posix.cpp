#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

#include "tools/host/module_library.h"

namespace qz {

ModuleLibrary::~ModuleLibrary() {
    if (handle_ != nullptr) dlclose(handle_);
}

ModuleLibrary::Failure ModuleLibrary::Load(const std::string& path, std::string& error) {
    handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) {
        const char* why = dlerror();
        error = "cannot load " + path + ": " + (why != nullptr ? why : "unknown error");
        return Failure::NotLoaded;
    }
    run_ = reinterpret_cast<QzRunRegistrationPassFunction>(dlsym(handle_, QZ_RUN_REGISTRATION_PASS_NAME));
    if (run_ == nullptr) {
        error = path + " has no export " + QZ_RUN_REGISTRATION_PASS_NAME;
        return Failure::ExportMissing;
    }
    return Failure::None;
}

std::string DefaultModulePath() {
    char self[PATH_MAX + 1] = {};
    const ssize_t length = readlink("/proc/self/exe", self, PATH_MAX);
    std::string directory = length > 0 ? std::string(self, static_cast<size_t>(length)) : std::string("./qzreg");
    directory.erase(directory.find_last_of('/') + 1);
    const std::string beside = directory + "libqzproduct.so";
    if (access(beside.c_str(), F_OK) == 0) return beside;
    // The library folder as installed, relative to the program's (../lib in the usual layout).
    const std::string installed = directory + QZ_LIBDIR_FROM_BINDIR + "/libqzproduct.so";
    if (access(installed.c_str(), F_OK) == 0) return installed;
    return beside;
}

std::string ModulePathToLoad(const std::string& given) {
    // dlopen searches the library path only for a name without a slash.
    if (given.empty() || given.find('/') != std::string::npos) return given;
    return "./" + given;
}

}  // namespace qz
