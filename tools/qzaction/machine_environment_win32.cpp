#include "tools/qzaction/machine_environment_win32.h"

#include <windows.h>
#include <userenv.h>

#include <cwchar>

namespace qz {

bool MachineEnvironment::Load(std::string& error) {
    void* block = nullptr;
    // No token: the system's variables only; FALSE: nothing of this process's own.
    if (!::CreateEnvironmentBlock(&block, nullptr, FALSE)) {
        error = "the machine's environment cannot be read (CreateEnvironmentBlock failed, error " +
                std::to_string(::GetLastError()) + ")";
        return false;
    }
    variables_.clear();
    // NAME=value strings one after another, an empty one at the end. A name may
    // itself start with '=' (the drives' current folders): the first '=' after
    // the first character ends it.
    for (const wchar_t* entry = static_cast<const wchar_t*>(block); *entry != L'\0';
         entry += std::wcslen(entry) + 1) {
        const wchar_t* equals = std::wcschr(entry + 1, L'=');
        if (equals == nullptr) continue;
        const wchar_t* value = equals + 1;
        variables_.emplace_back(std::u16string(entry, equals), std::u16string(value, value + std::wcslen(value)));
    }
    ::DestroyEnvironmentBlock(block);
    return true;
}

std::optional<std::u16string> MachineEnvironment::Variable(const std::u16string& name) const {
    for (const auto& [known, value] : variables_) {
        if (::CompareStringOrdinal(reinterpret_cast<const wchar_t*>(known.c_str()), static_cast<int>(known.size()),
                                   reinterpret_cast<const wchar_t*>(name.c_str()), static_cast<int>(name.size()),
                                   TRUE) == CSTR_EQUAL)
            return value;
    }
    return std::nullopt;
}

}  // namespace qz
