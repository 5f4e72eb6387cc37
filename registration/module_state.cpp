#include "registration/module_state.h"
#include "registration/registration_steps.h"

#include <set>

namespace qz {
namespace {

ModuleServices g_services;
std::string g_modulePath;
int g_reportedFailures = 0;
std::set<std::string> g_reportedTopics;

}  // namespace

ModuleServices& CurrentServices() { return g_services; }

ScopedServices::ScopedServices(const ModuleServices& services) : saved_(g_services) { g_services = services; }

ScopedServices::~ScopedServices() { g_services = saved_; }

RegistryApi& Registry() { return *g_services.registry; }

std::string LoadProductString(unsigned id) { return g_services.strings->Load(id); }

bool HostTakesNotes() { return g_services.notes != nullptr; }

void NoteForHost(QzNote kind, HKEY root, const std::string& path, const std::string& valueName) {
    if (g_services.notes != nullptr) g_services.notes->Note(kind, root, path, valueName);
}

std::string& ModulePath() { return g_modulePath; }

int ReportedFailureCount() { return g_reportedFailures; }

void ResetReportedFailureCount() {
    g_reportedFailures = 0;
    g_reportedTopics.clear();
}

void ReportRegistrationErrorOnce(const std::string& topic, ReportMessage message, std::vector<std::string> inserts) {
    // The first report under a topic already failed the pass.
    if (g_reportedTopics.insert(topic).second) ReportRegistrationError(message, std::move(inserts));
}

void ReportRegistrationError(ReportMessage message, std::vector<std::string> inserts) {
    ++g_reportedFailures;
    if (g_services.reporter != nullptr)
        g_services.reporter->ReportCatalogueMessage(MakeReportedMessage(message, std::move(inserts)));
}

}  // namespace qz
