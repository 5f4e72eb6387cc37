// Running Windows programs from a test program under Wine (Windows build only).
#pragma once

#include <string>

namespace qz::test {

// UTF-8 and UTF-16 (the test programs' text and the wide Windows calls').
std::wstring WideFromUtf8(const std::string& text);
std::string Utf8FromWide(const std::wstring& text);

// The Windows form of a Linux path under Wine: Z: and backslashes.
std::string WindowsPath(const std::string& unixPath);

// Runs a command line (UTF-8) in a new process (no window, no inherited console
// input), waits for it and returns its exit code; -1 when it could not be started.
// stdoutPath/stderrPath, when given, receive the process's output (Windows paths, UTF-8);
// workingDirectory, when given, is the process's current folder.
int RunWindowsCommand(const std::string& commandLine, const std::string& stdoutPath = {},
                      const std::string& stderrPath = {}, const std::string& workingDirectory = {});

// A scratch file path in the prefix's temporary folder, unique within the program.
std::string ScratchFilePath(const std::string& stem, const std::string& extension);

// Reads a whole file as bytes; empty when it cannot be read.
std::string ReadWholeFile(const std::string& windowsPath);

}  // namespace qz::test
