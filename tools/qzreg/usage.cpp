#include "tools/qzreg/usage.h"

#include <algorithm>

#include "text/ascii.h"

namespace qz {
namespace {

std::size_t EditDistance(const std::string& a, const std::string& b) {
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t above = row[j];
            const bool same = AsciiLower(a[i - 1]) == AsciiLower(b[j - 1]);
            row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (same ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

// "register, unregister, check or harvest"
std::string SubcommandList(const char* last) {
    std::string list;
    const std::vector<std::string>& names = SubcommandNames();
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0) list += i + 1 == names.size() ? std::string(" ") + last + " " : std::string(", ");
        list += names[i];
    }
    return list;
}

#ifdef _WIN32
const char kBadArguments[] =
    "  1  bad arguments: an unknown subcommand or option, a value out of range, a --import file that does\n"
    "     not exist\n";
#else
const char kBadArguments[] =
    "  1  bad arguments: an unknown subcommand or option, a value out of range, a --import file that does\n"
    "     not exist, an empty --registry or QZ_REGISTRY_DIR, or a registry folder they name that does not\n"
    "     exist (nothing is made or written then)\n";
#endif

const char kModuleStatuses[] =
    "  3  the module could not be loaded (the message gives the system's reason)\n"
    "  4  the module lacks its registration entry point QzRunRegistrationPass\n";

}  // namespace

const std::vector<std::string>& SubcommandNames() {
    static const std::vector<std::string> names = {"register", "unregister", "check", "harvest"};
    return names;
}

std::string NearestWord(const std::string& word, const std::vector<std::string>& known) {
    std::string nearest;
    std::size_t best = 0;
    for (const std::string& candidate : known) {
        const std::size_t distance = EditDistance(word, candidate);
        if (nearest.empty() || distance < best) {
            nearest = candidate;
            best = distance;
        }
    }
    return nearest;
}

std::string UnknownSubcommandText(const std::string& word) {
    return "'" + word + "' is not a qzreg subcommand; did you mean '" + NearestWord(word, SubcommandNames()) +
           "'? The subcommands are " + SubcommandList("and") + " (qzreg SUBCOMMAND --help tells more).";
}

std::string MissingSubcommandText() {
    return "a subcommand is required: " + SubcommandList("or") + " (qzreg --help tells more)";
}

#ifdef _WIN32
std::string RegistryViewText() {
    return "Registry views:\n"
           "  register, unregister  the classes through HKEY_CLASSES_ROOT, as regsvr32 reads and writes them\n"
           "                        (the running user's own classes merged in)\n"
           "  check                 the classes in HKEY_LOCAL_MACHINE\\Software\\Classes, 64-bit view: the store\n"
           "                        the package writes, whoever runs the check; a user's own classes count\n"
           "                        neither as the registration nor as drift\n"
           "  harvest               no registry: only the --import files\n";
}
#endif

std::string ExitStatusText(const std::string& subcommand) {
    std::string text = "Exit status (0 to 5 as regsvr32's):\n";
    if (subcommand.empty()) {
        text += "  0  success; for check: the registration is intact\n";
        text += kBadArguments;
        text += kModuleStatuses;
        text += "  5  the pass failed: it reported an error (its messages are printed), a --import file is\n"
                "     malformed or cannot be read (the message names the file and line), or the registry could\n"
                "     not be read or written; for check: it cannot tell\n"
                "  6  check: the registration has drifted (the differences are listed)\n"
                "Each subcommand's --help has its own.\n";
        return text;
    }
    if (subcommand == "check") {
        text += "  0  intact: a registration would change nothing here (JSON: \"intact\": true)\n";
        text += kBadArguments;
        text += kModuleStatuses;
        text += "     (JSON for 3 and 4: \"intact\": null and \"error\")\n"
                "  5  the check cannot tell: a registration would fail here (the modelling system is not\n"
                "     installed, say; the module's messages are printed and no drift is listed), a --import file\n"
                "     is malformed or cannot be read, or the registry cannot be read (JSON: \"intact\": null,\n"
                "     \"error\" and \"messages\"); a registration would not repair this\n"
                "  6  drifted: the differences are listed; a registration repairs them (JSON: \"intact\": false\n"
                "     and \"drift\")\n";
        return text;
    }
    if (subcommand == "harvest") {
        text += "  0  the registration is printed\n";
        text += kBadArguments;
        text += kModuleStatuses;
        text += "  5  the pass reported an error (its messages are printed), a --import file is malformed or\n"
                "     cannot be read (the message names the file and line), or the module reads no installation\n"
                "     directory; nothing is printed on stdout\n";
        return text;
    }
    const bool registering = subcommand == "register";
    text += std::string("  0  ") + (registering ? "registered" : "unregistered") +
            " (with --dry-run: previewed; nothing changed)\n";
    text += kBadArguments;
    text += kModuleStatuses;
    text += "  5  the pass reported an error (its messages are printed; what it wrote stays, and is listed), a\n"
            "     --import file is malformed or cannot be read (the message names the file and line), or the\n"
            "     registry could not be read or written (nothing is changed then)\n";
    return text;
}

}  // namespace qz
