#include "module/terminal_reporter_posix.h"

#include <unistd.h>

#include <cstdio>

namespace qz {

void TerminalReporter::Report(const std::string& message) {
    std::fprintf(stderr, "Registration Error: %s\n", message.c_str());
    if (isatty(STDIN_FILENO) && isatty(STDERR_FILENO)) {
        std::fputs("Press Enter to continue.", stderr);
        std::fflush(stderr);
        for (int c = std::getchar(); c != '\n' && c != EOF; c = std::getchar()) {
        }
    }
    std::fflush(stderr);
}

}  // namespace qz
