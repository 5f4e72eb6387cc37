// The native build's error box: the caption and the message on stderr. Like a
// modal box it waits for the user, but only when someone is there to answer
// (stdin and stderr both terminals); scripts and tests are never held up.
#pragma once

#include "registration/module_state.h"

namespace qz {

class TerminalReporter final : public ErrorReporter {
public:
    void Report(const std::string& message) override;
};

}  // namespace qz
