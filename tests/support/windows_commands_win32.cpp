#include "tests/support/windows_commands.h"

#include <windows.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <vector>

namespace qz::test {

std::wstring WideFromUtf8(const std::string& text) {
    if (text.empty()) return std::wstring();
    const int size = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(size), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], size);
    return out;
}

std::string Utf8FromWide(const std::wstring& text) {
    if (text.empty()) return std::string();
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0,
                                           nullptr, nullptr);
    std::string out(static_cast<size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &out[0], size, nullptr, nullptr);
    return out;
}

namespace {

HANDLE OpenOutputFile(const std::string& path, SECURITY_ATTRIBUTES* inherit) {
    if (path.empty()) return INVALID_HANDLE_VALUE;
    return ::CreateFileW(WideFromUtf8(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, inherit,
                         CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

std::string WindowsPath(const std::string& unixPath) {
    std::string path = "Z:" + unixPath;
    for (char& c : path)
        if (c == '/') c = '\\';
    return path;
}

int RunWindowsCommand(const std::string& commandLine, const std::string& stdoutPath,
                      const std::string& stderrPath, const std::string& workingDirectory) {
    SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
    HANDLE nul = ::CreateFileA("NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                               OPEN_EXISTING, 0, nullptr);
    HANDLE out = OpenOutputFile(stdoutPath, &inherit);
    HANDLE err = OpenOutputFile(stderrPath, &inherit);

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nul;
    startup.hStdOutput = out != INVALID_HANDLE_VALUE ? out : nul;
    startup.hStdError = err != INVALID_HANDLE_VALUE ? err : nul;
    PROCESS_INFORMATION process{};
    // Wide, so that a path in any script reaches the new process unchanged.
    const std::wstring wideLine = WideFromUtf8(commandLine);
    std::vector<wchar_t> mutableLine(wideLine.begin(), wideLine.end());
    mutableLine.push_back(L'\0');
    // Under a loaded machine Wine now and then fails to start a process at all
    // (CreateProcessW returns FALSE; the program never ran). Such a start is tried
    // again, so that one refused start does not fail a test; the failure is shown.
    const std::wstring directory = WideFromUtf8(workingDirectory);
    BOOL started = FALSE;
    for (int attempt = 1; attempt <= 3 && !started; ++attempt) {
        started = ::CreateProcessW(nullptr, mutableLine.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                                   directory.empty() ? nullptr : directory.c_str(), &startup, &process);
        if (!started) {
            std::fprintf(stderr, "could not start (error %lu, attempt %d of 3): %s\n", ::GetLastError(), attempt,
                         commandLine.c_str());
            ::Sleep(500);
        }
    }
    int exitCode = -1;
    if (started) {
        ::WaitForSingleObject(process.hProcess, INFINITE);
        DWORD code = 0;
        if (::GetExitCodeProcess(process.hProcess, &code))
            exitCode = static_cast<int>(code);
        else
            std::fprintf(stderr, "no exit code (error %lu): %s\n", ::GetLastError(), commandLine.c_str());
        ::CloseHandle(process.hThread);
        ::CloseHandle(process.hProcess);
    }
    if (out != INVALID_HANDLE_VALUE) ::CloseHandle(out);
    if (err != INVALID_HANDLE_VALUE) ::CloseHandle(err);
    if (nul != INVALID_HANDLE_VALUE) ::CloseHandle(nul);
    return exitCode;
}

std::string ScratchFilePath(const std::string& stem, const std::string& extension) {
    static int counter = 0;
    char directory[MAX_PATH + 1] = {};
    const DWORD length = ::GetTempPathA(MAX_PATH, directory);
    std::string base = length > 0 ? std::string(directory, length) : std::string("C:\\");
    std::ostringstream name;
    name << base << stem << '-' << ::GetCurrentProcessId() << '-' << ++counter << extension;
    return name.str();
}

std::string ReadWholeFile(const std::string& windowsPath) {
    std::ifstream in(windowsPath, std::ios::binary);
    if (!in) return std::string();
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace qz::test
