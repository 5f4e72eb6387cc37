// The registration pass above the steps: the pre-step of a registration, the
// removal that precedes an unregistration, and the driver that runs the
// thirteen steps in their one order. The exports and the hosts' entry point
// stand on these.
#pragma once

#include <string>

namespace qz {

// One step of the driver's table: its name and how the driver calls it.
struct RegistrationStep {
    const char* name;
    void (*run)(int registerFlag, const std::string& modulePath);
};

// The thirteen steps in the order both modes run them; count is 13.
const RegistrationStep* RegistrationSteps(int& count);

// Runs every step exactly once, in that order, whatever the ones before it did.
void RunRegistrationSteps(int registerFlag);

// Before the steps of a registration: the product's key and its Options value.
void RegisterApplicationName();
// Before the steps of an unregistration: what belongs to this version alone.
void RemoveProductKeys();
void RemoveShellVerbs();

}  // namespace qz
