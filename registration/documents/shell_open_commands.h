// What the unregistration needs to know of the versioned Open verbs.
#pragma once

#include <string>
#include <vector>

namespace qz {

// The names of the versioned Open verbs a registration of this version writes
// for its own installation: the verb with this version's fixed label, and the
// verb with the label the installation's Bin directory gives, when that differs
// (an installation in ...\ZURedore V12 Update 2\bin). Other versions' verbs
// are never among them.
std::vector<std::string> ThisVersionOpenVerbNames();

}  // namespace qz
