#include "tests/support/qzreg_json_outputs.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include <nlohmann/json.hpp>

#ifdef _WIN32
#include <windows.h>

#include "tests/support/windows_commands.h"
#else
#include <unistd.h>
#endif

namespace qz::test {
namespace {

std::vector<std::string> Words(const std::string& arguments) {
    std::vector<std::string> words;
    std::istringstream in(arguments);
    for (std::string word; in >> word;) {
        // Quotes around a word, as a shell or a Windows command line has them.
        if (word.size() >= 2 && (word.front() == '\'' || word.front() == '"') && word.back() == word.front())
            word = word.substr(1, word.size() - 2);
        words.push_back(word);
    }
    return words;
}

std::string Subcommand(const std::vector<std::string>& words) {
    for (const std::string& word : words) {
        if (word == "register" || word == "unregister" || word == "check" || word == "harvest") return word;
    }
    return "";
}

std::string OutputFolder() {
#ifdef _WIN32
    return WindowsPath(QZ_BINARY_DIR) + "\\qzreg-json-outputs";
#else
    return std::string(QZ_BINARY_DIR) + "/qzreg-json-outputs";
#endif
}

long ProcessId() {
#ifdef _WIN32
    return static_cast<long>(::GetCurrentProcessId());
#else
    return static_cast<long>(::getpid());
#endif
}

// A file name out of the test's name: letters, digits, '.', '_' and '-'.
std::string FileNamePart(std::string text) {
    for (char& c : text) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                           c == '_' || c == '-';
        if (!plain) c = '_';
    }
    return text;
}

}  // namespace

bool AsksForJson(const std::string& arguments) {
    const std::vector<std::string> words = Words(arguments);
    for (std::size_t i = 0; i < words.size(); ++i) {
        if (words[i] == "--format=json" || words[i] == "-fjson") return true;
        if ((words[i] == "--format" || words[i] == "-f") && i + 1 < words.size() && words[i + 1] == "json")
            return true;
    }
    return false;
}

void KeepQzregJsonOutput(const std::string& arguments, int exitCode, const std::string& out) {
    if (!AsksForJson(arguments)) return;
    static int counter = 0;
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    const std::string testName =
        test != nullptr ? std::string(test->test_suite_name()) + "." + test->name() : std::string("no-test");

    nlohmann::json record;
    record["test"] = testName;
#ifdef _WIN32
    record["host"] = "qzreg.exe";
#else
    record["host"] = "qzreg";
#endif
    record["arguments"] = arguments;
    record["subcommand"] = Subcommand(Words(arguments));
    record["exit_code"] = exitCode;
    record["stdout"] = out;

    const std::string folder = OutputFolder();
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    std::ostringstream name;
    name << folder << (folder.find('\\') != std::string::npos ? "\\" : "/") << FileNamePart(testName) << "-"
         << ProcessId() << "-" << ++counter << ".json";
    std::ofstream file(name.str(), std::ios::binary);
    file << record.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
    file.close();
    if (!file) ADD_FAILURE() << "cannot keep the JSON output of qzreg " << arguments << " in " << name.str();
}

}  // namespace qz::test
