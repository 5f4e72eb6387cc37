// States of real machines with the modelling system installed in unusual
// folders or with values other tools leave, added to the table both end-to-end
// suites run (tests/support/real_machine_states.h).
#pragma once

#include <vector>

#include "tests/support/real_machine_states.h"

namespace qz::test {

void AddUnusualInstallationStates(std::vector<RealMachineState>& states);

}  // namespace qz::test
