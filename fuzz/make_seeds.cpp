// Writes the seed corpora of the fuzz targets from the project's own files:
//   make_seeds OUTDIR [--res FILE]... [--reg FILE]...
// OUTDIR/res_reader      each compiled resource file as it is
// OUTDIR/version_info    the version blocks found in those files
// OUTDIR/reg_file        each .reg file as it is, and again as UTF-16LE with a BOM
//                        (the form the registry folder writes), plus a few texts
//                        that reach the corners of the format
// OUTDIR/registry_folder folders built from the .reg files (see registry_folder_fuzzer.cpp)
#include <sys/stat.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz/folder_image.h"
#include "registry/reg_file/reg_file.h"
#include "resources/res_reader.h"

namespace {

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "make_seeds: cannot read %s\n", path.c_str());
        std::exit(1);
    }
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteAll(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
    if (!out.good()) {
        std::fprintf(stderr, "make_seeds: cannot write %s\n", path.c_str());
        std::exit(1);
    }
}

std::string BaseName(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Texts that reach what the fixtures do not: every value type, escapes in names
// and data, continued hex lines, removals, comments and the REGEDIT4 form.
const char* const kCornerTexts[] = {
    "Windows Registry Editor Version 5.00\r\n\r\n"
    "[HKEY_CURRENT_USER\\Software\\Corner]\r\n"
    "@=\"default\"\r\n"
    "\"a\\nb\\r\\\"q\\\\\"=\"x\\ny\\rz \\\"\\\\\"\r\n"
    "\"d\"=dword:0000002a\r\n"
    "\"b\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,16,\\\r\n"
    "  17,18\r\n"
    "\"e\"=hex(2):25,00,41,00,25,00,00,00\r\n"
    "\"m\"=hex(7):61,00,00,00,62,00,00,00,00,00\r\n"
    "\"q\"=hex(b):01,02,03,04,05,06,07,08\r\n"
    "\"n\"=hex(0):\r\n"
    "\"gone\"=-\r\n"
    "; a comment\r\n"
    "[HKEY_CLASSES_ROOT\\.ext]\r\n"
    "@=\"Type\"\r\n"
    "[-HKEY_LOCAL_MACHINE\\Software\\Old]\r\n"
    "[HKCU\\Key]With]Brackets]\r\n",
    "REGEDIT4\r\n\r\n"
    "[HKEY_LOCAL_MACHINE\\Software\\Caf\xE9]\r\n"
    "@=\"\x80 5\"\r\n"
    "\"e\"=hex(2):25,41,25,00\r\n"
    "\"m\"=hex(7):61,00,e9,00,00\r\n",
    "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n\r\n"
    "[HKEY_CURRENT_USER\\Software\\Utf8]\r\n"
    "\"v\"=\"h\xC3\xA9lp \xE2\x82\xAC\"\r\n",
};

// The journal a save of two hives writes (see registry_folder_posix.cpp).
std::string JournalLine(const std::string& hive, const std::string& bytes) {
    std::uint64_t hash = 0xcbf29ce484222325ull;
    for (const char c : bytes) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 0x100000001b3ull;
    }
    char checksum[20];
    std::snprintf(checksum, sizeof checksum, "%016llx", static_cast<unsigned long long>(hash));
    return "replace " + hive + " ." + hive + ".AAAAAA " + std::to_string(bytes.size()) + " " + checksum + "\n";
}

// A folder whose save of newMachine and newUser was interrupted: both waiting
// in their temporary files, or the machine hive already replaced.
std::string InterruptedSaveImage(const std::string& oldMachine, const std::string& oldUser,
                                 const std::string& newMachine, const std::string& newUser, bool machineReplaced) {
    std::string image;
    qz::fuzz::AppendFolderFile(image, 0, machineReplaced ? newMachine : oldMachine);
    qz::fuzz::AppendFolderFile(image, 1, oldUser);
    qz::fuzz::AppendFolderFile(image, 2,
                               "qz registry folder journal 1\n" + JournalLine("HKEY_LOCAL_MACHINE.reg", newMachine) +
                                   JournalLine("HKEY_CURRENT_USER.reg", newUser) + "end\n");
    if (!machineReplaced) qz::fuzz::AppendFolderFile(image, 3, newMachine);
    qz::fuzz::AppendFolderFile(image, 4, newUser);
    return image;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: make_seeds OUTDIR [--res FILE]... [--reg FILE]...\n");
        return 1;
    }
    const std::string out = argv[1];
    for (const char* sub : {"", "/res_reader", "/version_info", "/reg_file", "/registry_folder"})
        ::mkdir((out + sub).c_str(), 0755);

    std::vector<std::string> regTexts;  // name, bytes pairs flattened
    std::vector<std::string> regNames;
    for (int i = 2; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        const std::string path = argv[i + 1];
        const std::string bytes = ReadAll(path);
        if (option == "--res") {
            WriteAll(out + "/res_reader/" + BaseName(path), bytes);
            const qz::ResourceFile resources(bytes.data(), bytes.size());
            for (unsigned id : resources.Ids(qz::kResourceTypeVersion)) {
                const qz::ResourceData block = resources.Find(qz::kResourceTypeVersion, id);
                if (!block.found()) continue;
                WriteAll(out + "/version_info/" + BaseName(path) + ".version" + std::to_string(id),
                         std::string(reinterpret_cast<const char*>(block.data), block.size));
            }
        } else if (option == "--reg") {
            regNames.push_back(BaseName(path));
            regTexts.push_back(bytes);
        } else {
            std::fprintf(stderr, "make_seeds: unknown option %s\n", option.c_str());
            return 1;
        }
    }
    for (std::size_t i = 0; i < sizeof kCornerTexts / sizeof kCornerTexts[0]; ++i) {
        regNames.push_back("corner" + std::to_string(i) + ".reg");
        regTexts.push_back(kCornerTexts[i]);
    }
    for (std::size_t i = 0; i < regTexts.size(); ++i) {
        WriteAll(out + "/reg_file/" + regNames[i], regTexts[i]);
        const std::string utf16 = qz::EncodeUtf16LeWithBom(qz::DecodeRegFileBytes(regTexts[i]));
        WriteAll(out + "/reg_file/" + regNames[i] + ".utf16", utf16);
        WriteAll(out + "/registry_folder/" + regNames[i], qz::fuzz::SeedFolderImage(utf16));
    }
    const std::string machineOld = qz::EncodeUtf16LeWithBom(
        u"Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Pass]\r\n\"v\"=\"old\"\r\n\r\n");
    const std::string machineNew = qz::EncodeUtf16LeWithBom(
        u"Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Pass]\r\n\"v\"=\"new\"\r\n\r\n");
    const std::string userOld = qz::EncodeUtf16LeWithBom(
        u"Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\Pass]\r\n\"v\"=dword:00000001\r\n\r\n");
    const std::string userNew = qz::EncodeUtf16LeWithBom(
        u"Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\Software\\Pass]\r\n\"v\"=dword:00000002\r\n\r\n");
    WriteAll(out + "/registry_folder/interrupted-before-renames",
             InterruptedSaveImage(machineOld, userOld, machineNew, userNew, false));
    WriteAll(out + "/registry_folder/interrupted-between-renames",
             InterruptedSaveImage(machineOld, userOld, machineNew, userNew, true));
    return 0;
}
