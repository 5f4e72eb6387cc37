#include "tests/support/module_e2e.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>

#include "tests/support/product_identity.h"
#include "tests/support/windows_commands.h"

namespace qz::test {
namespace {

const char kInstallFolder[] = "C:\\Program Files\\Orvantis Test";

std::string SourcePath(const std::string& relativePath) {
    std::string path = WindowsPath(QZ_SOURCE_DIR) + "\\" + relativePath;
    for (char& c : path)
        if (c == '/') c = '\\';
    return path;
}

std::string Utf8FromUtf16(const std::wstring& wide) {
    if (wide.empty()) return std::string();
    const int size = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                         nullptr, nullptr);
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), &out[0], size, nullptr, nullptr);
    return out;
}

std::wstring Utf16FromUtf8(const std::string& text) {
    if (text.empty()) return std::wstring();
    const int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], size);
    return out;
}

// File bytes as UTF-8 text with LF line ends: UTF-16LE with a BOM is converted, anything else taken as is.
std::string TextOfRegFile(const std::string& bytes) {
    std::string text;
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
        static_cast<unsigned char>(bytes[1]) == 0xFE) {
        std::wstring wide((bytes.size() - 2) / 2, L'\0');
        for (size_t i = 0; i < wide.size(); ++i)
            wide[i] = static_cast<wchar_t>(static_cast<unsigned char>(bytes[2 + 2 * i]) |
                                           (static_cast<unsigned char>(bytes[3 + 2 * i]) << 8));
        text = Utf8FromUtf16(wide);
    } else if (bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        text = bytes.substr(3);
    } else {
        text = bytes;
    }
    std::string lf;
    lf.reserve(text.size());
    for (char c : text)
        if (c != '\r') lf += c;
    return lf;
}

std::string Unescape(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            const char next = text[++i];
            out += next == 't' ? '\t' : next == 'n' ? '\n' : next == 'r' ? '\r' : next;
        } else {
            out += text[i];
        }
    }
    return out;
}

std::vector<std::string> SplitTabs(const std::string& line) {
    std::vector<std::string> fields;
    size_t start = 0;
    for (;;) {
        const size_t tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
        if (tab == std::string::npos) return fields;
        start = tab + 1;
    }
}

// Reads the C-escaped string that starts with the quote at `quote`; returns the
// position after its closing quote (npos when there is none).
size_t ReadQuoted(const std::string& line, size_t quote, std::string* out) {
    if (quote == std::string::npos) return std::string::npos;
    size_t end = quote + 1;
    while (end < line.size() && line[end] != '"') end += line[end] == '\\' ? 2 : 1;
    if (end >= line.size()) return std::string::npos;
    *out = Unescape(line.substr(quote + 1, end - quote - 1));
    return end + 1;
}

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

}  // namespace

std::string InstallModuleCopy() {
    CreateDirectoryA(kInstallFolder, nullptr);
    const std::string target = std::string(kInstallFolder) + "\\qzproduct.dll";
    EXPECT_TRUE(CopyFileA(WindowsPath(QZ_MODULE_FILE).c_str(), target.c_str(), FALSE))
        << "could not copy " << QZ_MODULE_FILE << " to " << target;
    return target;
}

std::string InstallModuleCopyIn(const std::string& folderName) {
    const std::string folder = "C:\\Program Files\\" + folderName;
    CreateDirectoryW(WideFromUtf8(folder).c_str(), nullptr);
    const std::string target = folder + "\\qzproduct.dll";
    EXPECT_TRUE(CopyFileW(WideFromUtf8(WindowsPath(QZ_MODULE_FILE)).c_str(), WideFromUtf8(target).c_str(), FALSE))
        << "could not copy " << QZ_MODULE_FILE << " to " << target;
    return target;
}

int RunRegsvr32(const std::string& dllPath, bool unregister) {
    return RunWindowsCommand(std::string("regsvr32 /s ") + (unregister ? "/u " : "") + Quoted(dllPath));
}

int RunRegsvr32Traced(const std::string& dllPath, bool unregister, std::vector<RecordedBox>* boxes) {
    // Every process of the prefix writes Wine's debug output to the one file the
    // test runner collects (QZ_WINE_STDERR); the child's trace is what it appends.
    char stderrFile[1024] = {};
    const DWORD stderrLength = GetEnvironmentVariableA("QZ_WINE_STDERR", stderrFile, sizeof stderrFile);
    EXPECT_TRUE(stderrLength > 0 && stderrLength < sizeof stderrFile) << "not run through wine-test-run.sh";
    const std::string tracePath = WindowsPath(stderrFile);
    const size_t traceStart = ReadWholeFile(tracePath).size();

    char saved[256] = {};
    const DWORD savedLength = GetEnvironmentVariableA("WINEDEBUG", saved, sizeof saved);
    SetEnvironmentVariableA("WINEDEBUG", "-all,+relay");
    const int exitCode =
        RunWindowsCommand(std::string("regsvr32 /s ") + (unregister ? "/u " : "") + Quoted(dllPath));
    SetEnvironmentVariableA("WINEDEBUG", savedLength > 0 && savedLength < sizeof saved ? saved : nullptr);

    const std::string wholeTrace = ReadWholeFile(tracePath);
    std::istringstream trace(wholeTrace.size() > traceStart ? wholeTrace.substr(traceStart) : std::string());
    // 0120:Call user32.MessageBoxExA(00000000,0021faa0 "text",365e3901d "Registration Error",00010010,300000409) ret=...
    std::string line;
    while (std::getline(trace, line)) {
        const size_t call = line.find("Call user32.MessageBoxExA(");
        if (call == std::string::npos) continue;
        RecordedBox box;
        size_t end = ReadQuoted(line, line.find('"', call), &box.text);
        end = ReadQuoted(line, line.find('"', end), &box.caption);
        unsigned long long style = 0, language = 0;
        if (end != std::string::npos && std::sscanf(line.c_str() + end, ",%llx,%llx", &style, &language) == 2) {
            box.style = static_cast<unsigned>(style);
            box.language = static_cast<unsigned>(language & 0xFFFF);
        }
        if (boxes != nullptr) boxes->push_back(box);
    }
    return exitCode;
}

void ImportRegFixture(const std::string& relativePath) {
    const std::string text = TextOfRegFile(ReadWholeFile(SourcePath(relativePath)));
    ASSERT_FALSE(text.empty()) << "cannot read fixture " << relativePath;
    std::string crlf;
    for (char c : text) {
        if (c == '\n') crlf += '\r';
        crlf += c;
    }
    const std::wstring wide = Utf16FromUtf8(crlf);
    const std::string importPath = ScratchFilePath("import", ".reg");
    {
        FILE* out = std::fopen(importPath.c_str(), "wb");
        ASSERT_NE(out, nullptr);
        std::fputc(0xFF, out);
        std::fputc(0xFE, out);
        for (wchar_t c : wide) {
            std::fputc(c & 0xFF, out);
            std::fputc((c >> 8) & 0xFF, out);
        }
        std::fclose(out);
    }
    // An import is the same whether it runs once or again, so a failed one is
    // tried again (a loaded machine has seen one end with -1, the fixture unread);
    // every failure is shown, and one that persists fails the test.
    const std::string outputPath = ScratchFilePath("import", ".txt");
    int exitCode = -1;
    for (int attempt = 1; attempt <= 3 && exitCode != 0; ++attempt) {
        exitCode = RunWindowsCommand("reg import " + Quoted(importPath), outputPath);
        if (exitCode != 0) {
            std::fprintf(stderr, "reg import of %s exited with %d (attempt %d of 3); it printed: %s\n",
                         relativePath.c_str(), exitCode, attempt, ReadWholeFile(outputPath).c_str());
        }
    }
    DeleteFileA(importPath.c_str());
    DeleteFileA(outputPath.c_str());
    EXPECT_EQ(exitCode, 0) << "reg import of " << relativePath << " failed three times";
}

std::string ExportKey(const std::string& key) {
    const std::string exportPath = ScratchFilePath("export", ".reg");
    // Reading only, so a failed export is tried again, as a failed import is.
    int exitCode = -1;
    for (int attempt = 1; attempt <= 3 && exitCode != 0; ++attempt) {
        exitCode = RunWindowsCommand("reg export " + Quoted(key) + " " + Quoted(exportPath) + " /y");
        if (exitCode != 0 && exitCode != 1) {
            std::fprintf(stderr, "reg export of %s exited with %d (attempt %d of 3)\n", key.c_str(), exitCode, attempt);
        }
        if (exitCode == 1) break;  // what reg says when the key is not there
    }
    std::string text = exitCode == 0 ? TextOfRegFile(ReadWholeFile(exportPath)) : std::string();
    DeleteFileA(exportPath.c_str());
    return text;
}

std::string ReadRegFixture(const std::string& relativePath) {
    return TextOfRegFile(ReadWholeFile(SourcePath(relativePath)));
}

namespace {

HookedPass RunHookHost(const std::string& dllPath, bool unregister, const std::vector<std::string>& failRules,
                       unsigned long hiddenStationTimeoutMs) {
    const std::string reportPath = ScratchFilePath("hooked-pass", ".txt");
    std::string command = Quoted(WindowsPath(QZ_HOOK_HOST_FILE)) + " " + Quoted(dllPath) + " " +
                          (unregister ? "unregister" : "register") + " " + Quoted(reportPath);
    for (const std::string& rule : failRules) command += " " + Quoted(rule);
    const int exitCode = hiddenStationTimeoutMs != 0 ? RunOnHiddenStation(command, hiddenStationTimeoutMs)
                                                     : RunWindowsCommand(command);
    EXPECT_EQ(exitCode, 0) << "hook host failed: " << command;

    HookedPass pass;
    std::istringstream report(ReadWholeFile(reportPath));
    DeleteFileA(reportPath.c_str());
    std::string line;
    while (std::getline(report, line)) {
        const std::vector<std::string> fields = SplitTabs(line);
        if (line.compare(0, 7, "result ") == 0) {
            pass.result = static_cast<long>(std::strtoul(line.c_str() + 7, nullptr, 16));
        } else if (line == "station visible") {
            pass.stationVisible = true;
        } else if (fields[0] == "box" && fields.size() >= 5) {
            RecordedBox box;
            box.style = static_cast<unsigned>(std::strtoul(fields[1].c_str(), nullptr, 16));
            box.language = static_cast<unsigned>(std::strtoul(fields[2].c_str(), nullptr, 16));
            box.caption = Unescape(fields[3]);
            box.text = Unescape(fields[4]);
            pass.boxes.push_back(box);
        } else if (fields[0] == "event" && fields.size() >= 5) {
            RecordedEvent event;
            event.source = fields[1];
            event.type = static_cast<unsigned>(std::strtoul(fields[2].c_str(), nullptr, 10));
            event.category = static_cast<unsigned>(std::strtoul(fields[3].c_str(), nullptr, 10));
            event.id = std::strtoul(fields[4].c_str(), nullptr, 10);
            for (size_t i = 5; i < fields.size(); ++i) event.strings.push_back(Unescape(fields[i]));
            pass.events.push_back(event);
        } else if (fields[0] == "debug" && fields.size() >= 2) {
            pass.debugOutput.push_back(Unescape(fields[1]));
        }
    }
    return pass;
}

}  // namespace

HookedPass RunHookedPass(const std::string& dllPath, bool unregister, const std::vector<std::string>& failRules) {
    return RunHookHost(dllPath, unregister, failRules, 0);
}

HookedPass RunHookedPassOnHiddenStation(const std::string& dllPath, bool unregister,
                                        const std::vector<std::string>& failRules, unsigned long timeoutMs) {
    return RunHookHost(dllPath, unregister, failRules, timeoutMs);
}

int RunOnHiddenStation(const std::string& commandLine, unsigned long timeoutMs, const std::string& stdoutPath,
                       const std::string& stderrPath) {
    return RunWindowsCommand(Quoted(WindowsPath(QZ_HIDDEN_STATION_FILE)) + " " + std::to_string(timeoutMs) + " " +
                                 commandLine,
                             stdoutPath, stderrPath);
}

void MakeVolatileKey(HKEY root, const std::string& path) {
    HKEY key = nullptr;
    DWORD disposition = 0;
    const LONG status = RegCreateKeyExA(root, path.c_str(), 0, nullptr, REG_OPTION_VOLATILE, KEY_ALL_ACCESS,
                                        nullptr, &key, &disposition);
    ASSERT_EQ(status, ERROR_SUCCESS) << "cannot create volatile key " << path;
    RegCloseKey(key);
    ASSERT_EQ(disposition, static_cast<DWORD>(REG_CREATED_NEW_KEY)) << path << " existed already";
}

void ResetProductRegistry() {
    for (const ProductKey& key : ProductKeys()) {
        const std::string name = key.name;
        const std::size_t slash = name.find('\\');
        const std::string root = name.substr(0, slash);
        const HKEY handle = root == "HKEY_LOCAL_MACHINE"  ? HKEY_LOCAL_MACHINE
                            : root == "HKEY_CURRENT_USER" ? HKEY_CURRENT_USER
                                                          : HKEY_CLASSES_ROOT;
        // With a subkey path, RegDeleteTreeA removes the key itself too.
        RegDeleteTreeA(handle, name.substr(slash + 1).c_str());
    }
}

std::string ExportProductRegistry() {
    std::string text;
    for (const std::string& key : ExportedProductKeys()) text += key + ":\n" + ExportKey(key);
    return text;
}

std::vector<std::string> BoxTexts(const std::vector<RecordedBox>& boxes) {
    std::vector<std::string> texts;
    for (const RecordedBox& box : boxes) texts.push_back(box.text);
    return texts;
}

}  // namespace qz::test
