// A host process for one registration pass of the product module, for tests.
//
//   qz_hook_host <module.dll> register|unregister <report-file> [API:KEYPATH ...]
//
// It loads the module, patches the module's own import address table so that
// its MessageBoxExA calls are recorded (text, caption, style, language) instead
// of shown, and so that the chosen registry calls fail with ERROR_ACCESS_DENIED,
// then calls the export. A rule "RegCreateKeyExW:HKEY_LOCAL_MACHINE\Software\Corvalen"
// fails that call on that key (full path, letter case ignored); a path ending in
// "\*" covers the key and everything below it; "*" alone covers every key.
//
// The report file holds one line "station visible|hidden" (the window station
// the host runs on, see qz_hidden_station), one line "result <hex>", one line
// per box:
//   box<TAB>style<TAB>language<TAB>caption<TAB>text   (\t, \n, \r and \\ escaped),
// the texts as UTF-8 (the box takes them in the ANSI code page), and one line
// per event the module reports and per debug output it writes (both are passed
// on to the real calls):
//   event<TAB>source<TAB>type<TAB>category<TAB>id<TAB>text[<TAB>text...]
//   debug<TAB>text
//
// The arguments are read as UTF-16, so that a module or report path in any
// script reaches LoadLibraryW and the file system unchanged.
#include <windows.h>
#include <shellapi.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <map>
#include <string>
#include <vector>

namespace {

struct Rule {
    std::string api;
    std::string path;  // upper case
};

std::vector<Rule> g_rules;
std::map<HKEY, std::string> g_keyPaths;
std::FILE* g_report = nullptr;

std::string Upper(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

std::string Escape(const char* text) {
    std::string out;
    for (const char* p = text != nullptr ? text : ""; *p != '\0'; ++p) {
        switch (*p) {
            case '\t': out += "\\t"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\\': out += "\\\\"; break;
            default: out += *p;
        }
    }
    return out;
}

std::string RootName(HKEY key) {
    if (key == HKEY_CLASSES_ROOT) return "HKEY_CLASSES_ROOT";
    if (key == HKEY_CURRENT_USER) return "HKEY_CURRENT_USER";
    if (key == HKEY_LOCAL_MACHINE) return "HKEY_LOCAL_MACHINE";
    if (key == HKEY_USERS) return "HKEY_USERS";
    const auto found = g_keyPaths.find(key);
    return found != g_keyPaths.end() ? found->second : std::string("?");
}

std::string FullPath(HKEY key, const char* subKey) {
    std::string path = RootName(key);
    if (subKey != nullptr && *subKey != '\0') {
        path += '\\';
        path += subKey;
    }
    while (path.size() > 1 && path.back() == '\\') path.pop_back();
    return path;
}

bool ShouldFail(const char* api, const std::string& path) {
    const std::string upper = Upper(path);
    for (const Rule& rule : g_rules) {
        if (rule.api != api) continue;
        if (rule.path == "*" || rule.path == upper) return true;
        if (rule.path.size() >= 2 && rule.path.compare(rule.path.size() - 2, 2, "\\*") == 0) {
            const std::string base = rule.path.substr(0, rule.path.size() - 2);
            if (upper == base || upper.compare(0, base.size() + 1, base + "\\") == 0) return true;
        }
    }
    return false;
}

std::string Utf8(LPCWSTR text);

// A text in the ANSI code page, as the box receives it, in UTF-8.
std::string Utf8OfAnsi(LPCSTR text) {
    if (text == nullptr) return std::string();
    const int size = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    if (size <= 1) return std::string();
    std::vector<wchar_t> wide(static_cast<size_t>(size));
    MultiByteToWideChar(CP_ACP, 0, text, -1, wide.data(), size);
    return Utf8(wide.data());
}

int WINAPI HookMessageBoxExA(HWND, LPCSTR text, LPCSTR caption, UINT style, WORD language) {
    std::fprintf(g_report, "box\t0x%x\t0x%x\t%s\t%s\n", style, language, Escape(Utf8OfAnsi(caption).c_str()).c_str(),
                 Escape(Utf8OfAnsi(text).c_str()).c_str());
    std::fflush(g_report);
    return IDOK;
}

// The event sources the module registered, by handle.
std::map<HANDLE, std::string> g_eventSources;

HANDLE WINAPI HookRegisterEventSourceW(LPCWSTR server, LPCWSTR source) {
    HANDLE log = RegisterEventSourceW(server, source);
    if (log != nullptr) g_eventSources[log] = Utf8(source);
    return log;
}

BOOL WINAPI HookReportEventW(HANDLE log, WORD type, WORD category, DWORD id, PSID user, WORD count, DWORD dataSize,
                             LPCWSTR* strings, LPVOID data) {
    const auto source = g_eventSources.find(log);
    std::fprintf(g_report, "event\t%s\t%u\t%u\t%lu", source != g_eventSources.end() ? source->second.c_str() : "?",
                 type, category, static_cast<unsigned long>(id));
    for (WORD i = 0; i < count; ++i) std::fprintf(g_report, "\t%s", Escape(Utf8(strings[i]).c_str()).c_str());
    std::fprintf(g_report, "\n");
    std::fflush(g_report);
    return ReportEventW(log, type, category, id, user, count, dataSize, strings, data);
}

BOOL WINAPI HookDeregisterEventSource(HANDLE log) {
    g_eventSources.erase(log);
    return DeregisterEventSource(log);
}

void WINAPI HookOutputDebugStringW(LPCWSTR text) {
    std::fprintf(g_report, "debug\t%s\n", Escape(Utf8(text).c_str()).c_str());
    std::fflush(g_report);
    OutputDebugStringW(text);
}

LONG WINAPI HookRegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD reserved, LPSTR cls, DWORD options, REGSAM access,
                                const LPSECURITY_ATTRIBUTES security, PHKEY result, LPDWORD disposition) {
    const std::string path = FullPath(key, subKey);
    if (ShouldFail("RegCreateKeyExA", path)) return ERROR_ACCESS_DENIED;
    const LONG status =
        RegCreateKeyExA(key, subKey, reserved, cls, options, access, security, result, disposition);
    if (status == ERROR_SUCCESS) g_keyPaths[*result] = path;
    return status;
}

LONG WINAPI HookRegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM access, PHKEY result) {
    const std::string path = FullPath(key, subKey);
    if (ShouldFail("RegOpenKeyExA", path)) return ERROR_ACCESS_DENIED;
    const LONG status = RegOpenKeyExA(key, subKey, options, access, result);
    if (status == ERROR_SUCCESS) g_keyPaths[*result] = path;
    return status;
}

LONG WINAPI HookRegOpenKeyA(HKEY key, LPCSTR subKey, PHKEY result) {
    const std::string path = FullPath(key, subKey);
    if (ShouldFail("RegOpenKeyA", path)) return ERROR_ACCESS_DENIED;
    const LONG status = RegOpenKeyA(key, subKey, result);
    if (status == ERROR_SUCCESS) g_keyPaths[*result] = path;
    return status;
}

LONG WINAPI HookRegSetValueExA(HKEY key, LPCSTR name, DWORD reserved, DWORD type, const BYTE* data, DWORD size) {
    if (ShouldFail("RegSetValueExA", FullPath(key, nullptr))) return ERROR_ACCESS_DENIED;
    return RegSetValueExA(key, name, reserved, type, data, size);
}

LONG WINAPI HookRegDeleteKeyA(HKEY key, LPCSTR subKey) {
    if (ShouldFail("RegDeleteKeyA", FullPath(key, subKey))) return ERROR_ACCESS_DENIED;
    return RegDeleteKeyA(key, subKey);
}

LONG WINAPI HookRegDeleteValueA(HKEY key, LPCSTR name) {
    if (ShouldFail("RegDeleteValueA", FullPath(key, nullptr))) return ERROR_ACCESS_DENIED;
    return RegDeleteValueA(key, name);
}

// The module reaches the registry through the wide calls; their names and paths
// are matched in UTF-8.
std::string Utf8(LPCWSTR text) {
    if (text == nullptr) return std::string();
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1) return std::string();
    std::string out(static_cast<size_t>(size - 1), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], size, nullptr, nullptr);
    return out;
}

std::string FullPathW(HKEY key, LPCWSTR subKey) {
    const std::string narrow = Utf8(subKey);
    return FullPath(key, subKey != nullptr ? narrow.c_str() : nullptr);
}

LONG WINAPI HookRegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD reserved, LPWSTR cls, DWORD options, REGSAM access,
                                const LPSECURITY_ATTRIBUTES security, PHKEY result, LPDWORD disposition) {
    const std::string path = FullPathW(key, subKey);
    if (ShouldFail("RegCreateKeyExW", path)) return ERROR_ACCESS_DENIED;
    const LONG status =
        RegCreateKeyExW(key, subKey, reserved, cls, options, access, security, result, disposition);
    if (status == ERROR_SUCCESS) g_keyPaths[*result] = path;
    return status;
}

LONG WINAPI HookRegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD options, REGSAM access, PHKEY result) {
    const std::string path = FullPathW(key, subKey);
    if (ShouldFail("RegOpenKeyExW", path)) return ERROR_ACCESS_DENIED;
    const LONG status = RegOpenKeyExW(key, subKey, options, access, result);
    if (status == ERROR_SUCCESS) g_keyPaths[*result] = path;
    return status;
}

LONG WINAPI HookRegSetValueExW(HKEY key, LPCWSTR name, DWORD reserved, DWORD type, const BYTE* data, DWORD size) {
    if (ShouldFail("RegSetValueExW", FullPath(key, nullptr))) return ERROR_ACCESS_DENIED;
    return RegSetValueExW(key, name, reserved, type, data, size);
}

LONG WINAPI HookRegDeleteKeyW(HKEY key, LPCWSTR subKey) {
    if (ShouldFail("RegDeleteKeyW", FullPathW(key, subKey))) return ERROR_ACCESS_DENIED;
    return RegDeleteKeyW(key, subKey);
}

LONG WINAPI HookRegDeleteValueW(HKEY key, LPCWSTR name) {
    if (ShouldFail("RegDeleteValueW", FullPath(key, nullptr))) return ERROR_ACCESS_DENIED;
    return RegDeleteValueW(key, name);
}

LONG WINAPI HookRegCloseKey(HKEY key) {
    g_keyPaths.erase(key);
    return RegCloseKey(key);
}

struct Hook {
    const char* name;
    void* replacement;
};

const Hook kHooks[] = {
    {"MessageBoxExA", reinterpret_cast<void*>(&HookMessageBoxExA)},
    {"RegCreateKeyExA", reinterpret_cast<void*>(&HookRegCreateKeyExA)},
    {"RegOpenKeyExA", reinterpret_cast<void*>(&HookRegOpenKeyExA)},
    {"RegOpenKeyA", reinterpret_cast<void*>(&HookRegOpenKeyA)},
    {"RegSetValueExA", reinterpret_cast<void*>(&HookRegSetValueExA)},
    {"RegDeleteKeyA", reinterpret_cast<void*>(&HookRegDeleteKeyA)},
    {"RegDeleteValueA", reinterpret_cast<void*>(&HookRegDeleteValueA)},
    {"RegCreateKeyExW", reinterpret_cast<void*>(&HookRegCreateKeyExW)},
    {"RegOpenKeyExW", reinterpret_cast<void*>(&HookRegOpenKeyExW)},
    {"RegSetValueExW", reinterpret_cast<void*>(&HookRegSetValueExW)},
    {"RegDeleteKeyW", reinterpret_cast<void*>(&HookRegDeleteKeyW)},
    {"RegDeleteValueW", reinterpret_cast<void*>(&HookRegDeleteValueW)},
    {"RegCloseKey", reinterpret_cast<void*>(&HookRegCloseKey)},
    {"RegisterEventSourceW", reinterpret_cast<void*>(&HookRegisterEventSourceW)},
    {"ReportEventW", reinterpret_cast<void*>(&HookReportEventW)},
    {"DeregisterEventSource", reinterpret_cast<void*>(&HookDeregisterEventSource)},
    {"OutputDebugStringW", reinterpret_cast<void*>(&HookOutputDebugStringW)},
};

bool OnVisibleStation() {
    USEROBJECTFLAGS flags{};
    DWORD needed = 0;
    return GetUserObjectInformationW(GetProcessWindowStation(), UOI_FLAGS, &flags, sizeof flags, &needed) &&
           (flags.dwFlags & WSF_VISIBLE) != 0;
}

// Points the module's import slots for the hooked functions at the hooks.
int PatchImports(HMODULE module) {
    auto* base = reinterpret_cast<BYTE*>(module);
    auto* dos = reinterpret_cast<IMAGE_DOS_HEADER*>(base);
    auto* nt = reinterpret_cast<IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (directory.VirtualAddress == 0) return 0;
    int patched = 0;
    for (auto* import = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + directory.VirtualAddress);
         import->Name != 0; ++import) {
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + (import->OriginalFirstThunk != 0
                                                                      ? import->OriginalFirstThunk
                                                                      : import->FirstThunk));
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + import->FirstThunk);
        for (; names->u1.AddressOfData != 0; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
            auto* byName = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            for (const Hook& hook : kHooks) {
                if (std::strcmp(reinterpret_cast<const char*>(byName->Name), hook.name) != 0) continue;
                DWORD oldProtection = 0;
                VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, PAGE_READWRITE, &oldProtection);
                slots->u1.Function = reinterpret_cast<ULONG_PTR>(hook.replacement);
                VirtualProtect(&slots->u1.Function, sizeof slots->u1.Function, oldProtection, &oldProtection);
                ++patched;
            }
        }
    }
    return patched;
}

}  // namespace

int main() {
    int argc = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &argc);
    if (argv == nullptr || argc < 4) {
        std::fprintf(stderr, "usage: qz_hook_host <module.dll> register|unregister <report-file> [API:KEYPATH ...]\n");
        return 2;
    }
    const bool registering = std::wcscmp(argv[2], L"register") == 0;
    g_report = _wfopen(argv[3], L"wb");
    if (g_report == nullptr) return 2;
    std::fprintf(g_report, "station %s\n", OnVisibleStation() ? "visible" : "hidden");
    for (int i = 4; i < argc; ++i) {
        const std::string rule = Utf8(argv[i]);
        const std::string::size_type colon = rule.find(':');
        if (colon == std::string::npos) continue;
        g_rules.push_back(Rule{rule.substr(0, colon), Upper(rule.substr(colon + 1))});
    }

    // LoadLibraryW: a module path in any script, or longer than MAX_PATH (in the \\?\ form), loads too.
    HMODULE module = LoadLibraryW(argv[1]);
    if (module == nullptr) {
        std::fprintf(g_report, "result load-failed\n");
        std::fclose(g_report);
        return 3;
    }
    PatchImports(module);
    using Export = HRESULT(STDAPICALLTYPE*)();
    auto entry = reinterpret_cast<Export>(
        reinterpret_cast<void*>(GetProcAddress(module, registering ? "DllRegisterServer" : "DllUnregisterServer")));
    if (entry == nullptr) {
        std::fprintf(g_report, "result no-export\n");
        std::fclose(g_report);
        return 4;
    }
    const HRESULT result = entry();
    std::fprintf(g_report, "result 0x%08lx\n", static_cast<unsigned long>(result));
    std::fclose(g_report);
    FreeLibrary(module);
    return 0;
}
