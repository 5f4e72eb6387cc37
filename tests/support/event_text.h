// An event of the module as an event viewer renders it: the message table of a
// module file, the event's id and its insertion strings, through FormatMessageW.
#pragma once

#include <string>
#include <vector>

namespace qz::test {

struct RenderedEvent {
    bool found = false;          // FormatMessageW found the id in the module's message table
    unsigned long error = 0;     // GetLastError when it did not
    std::string text;            // UTF-8
};

// FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY) with the module
// (a Windows path, loaded as a data file as event viewers load a message file), in US English.
RenderedEvent RenderEvent(const std::string& modulePath, unsigned long id, const std::vector<std::string>& inserts);

}  // namespace qz::test
