// Where a message goes when nobody can see a box. Deployment tools run
// regsvr32 as SYSTEM, services and scheduled tasks run without a logon: their
// window station is not visible, and a modal box there waits forever. Such a
// pass records each message instead, in the Application event log and as
// debug output, and fails as it would have with the box.
#pragma once

#include <string>

#include "registration/report_messages.h"

namespace qz {

// True when the process's window station is the interactive one (WSF_VISIBLE);
// false when it is not, or when that cannot be told: a box that nobody can
// dismiss would hang the caller.
bool WindowStationIsVisible();

// One message, recorded as an error event of the Application event log with
// `source` (the product's name) as event source, the message's number in the
// catalogue as event id and its inserts as the event's strings, and as debug
// output ("<source>: Registration Error: <text>"). Texts in UTF-8; nothing is
// shown and nothing waits.
void RecordUnattendedMessage(const std::string& source, const ReportedMessage& message);

}  // namespace qz
