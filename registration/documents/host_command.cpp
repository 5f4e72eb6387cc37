#include "registration/documents/host_command.h"

#include "text/ascii.h"

namespace qz {
namespace {

bool IsWhiteSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

}  // namespace

std::string TrimWhiteSpace(const std::string& text) {
    std::string::size_type begin = 0;
    std::string::size_type end = text.size();
    while (begin < end && IsWhiteSpace(text[begin])) ++begin;
    while (end > begin && IsWhiteSpace(text[end - 1])) --end;
    return text.substr(begin, end - begin);
}

bool IsProductHost(const std::string& hostBaseName) { return AsciiEqualIgnoringCase(hostBaseName, "Tessaryn"); }

std::string QuotedExecutablePath(const std::string& directory, const std::string& fileName) {
    return "\"" + directory + "\\" + fileName + "\"";
}

}  // namespace qz
