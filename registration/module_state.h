// The module-wide state: the three seams (platform registry, error reporter,
// product string source), the environment a host may hand in, and what a pass
// carries (the module path, whether a failure was reported). The exports set
// the seams up; a test replaces them for its own duration with ScopedServices.
#pragma once

#include <string>

#include "registration/report_messages.h"
#include "registry/api/registry_api.h"
#include "registry/api/registry_table.h"

namespace qz {

class ErrorReporter {
public:
    virtual ~ErrorReporter() = default;
    // Shows one "Registration Error" box (or its native counterpart) and returns
    // when the user has dismissed it.
    virtual void Report(const std::string& message) = 0;
    // One message of the catalogue: by default the box with its text. A reporter that
    // records events overrides it to keep the message's number and inserts.
    virtual void ReportCatalogueMessage(const ReportedMessage& message) { Report(message.text); }
};

class StringSource {
public:
    virtual ~StringSource() = default;
    // The product string with this id, in UTF-8 (the module's text); empty when missing.
    virtual std::string Load(unsigned id) = 0;
};

class EnvironmentSource;  // registration/environment.h

// Where a pass tells the host that runs it what only the module knows about
// what it writes (the notes of registry_table.h): which values the machine
// owns once written, which keys belong to the current version, where the
// directories are read. Path and value name are UTF-8; the value name is
// empty where the kind names no value.
class HostNotes {
public:
    virtual ~HostNotes() = default;
    virtual void Note(QzNote kind, HKEY root, const std::string& path, const std::string& valueName) = 0;
};

struct ModuleServices {
    RegistryApi* registry = nullptr;
    ErrorReporter* reporter = nullptr;
    StringSource* strings = nullptr;
    // The variables expandable directories expand with; null: the process environment.
    EnvironmentSource* environment = nullptr;
    HostNotes* notes = nullptr;  // null: nobody listens (regsvr32, the tests of the steps)
};

// The services in force; the exports install the real ones.
ModuleServices& CurrentServices();

// Replaces the services for the lifetime of the object and restores the previous ones.
class ScopedServices {
public:
    explicit ScopedServices(const ModuleServices& services);
    ScopedServices(const ScopedServices&) = delete;
    ScopedServices& operator=(const ScopedServices&) = delete;
    ~ScopedServices();

private:
    ModuleServices saved_;
};

// Shorthands the steps use.
RegistryApi& Registry();
std::string LoadProductString(unsigned id);

// True when the host of this pass takes notes; NoteForHost tells it one, and
// does nothing when nobody listens.
bool HostTakesNotes();
void NoteForHost(QzNote kind, HKEY root, const std::string& path, const std::string& valueName = std::string());

// The module's full file path (UTF-8): filled by DllRegisterServer, empty until then.
std::string& ModulePath();

// Shows one "Registration Error" box with this message of the catalogue and its inserts
// (texts put in as they are, never read as format strings) through the reporter in force,
// and counts it as a failure of the pass.
void ReportRegistrationError(ReportMessage message, std::vector<std::string> inserts = {});

// Counts the failures reported since the last reset: the exports turn a pass
// that reported any failure into a failure result.
int ReportedFailureCount();
void ResetReportedFailureCount();

// Reports a failure that many steps would meet alike (a missing installation
// directory, say) once per pass: the first report under a topic shows its box
// (and fails the pass); later ones under the same topic show nothing.
void ReportRegistrationErrorOnce(const std::string& topic, ReportMessage message,
                                 std::vector<std::string> inserts = {});

}  // namespace qz
