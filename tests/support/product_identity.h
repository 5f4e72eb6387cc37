// The product as every suite knows it, written once: the keys a registration of
// this version writes, removes or shares with the family, and the modelling
// system's Dir key the steps read their directories from. The suites that
// clean, export or compare the product's registry read these rather than list
// the keys again; texts are UTF-8 with the long root names.
#pragma once

#include <string>
#include <vector>

namespace qz::test {

// The product's keys by their part, full names.
inline constexpr char kSystemOptionsKey[] = "HKEY_LOCAL_MACHINE\\Software\\Corvalen\\ZURedore\\38.0\\Options";
inline constexpr char kProductSettingsKey[] = "HKEY_LOCAL_MACHINE\\Software\\Corvalen\\Orvantis\\38.0";
inline constexpr char kAsciiSuffixKey[] = "HKEY_CLASSES_ROOT\\.ovxf";
inline constexpr char kLibrarySuffixKey[] = "HKEY_CLASSES_ROOT\\.ovxl";
inline constexpr char kDocumentTypeKey[] = "HKEY_CLASSES_ROOT\\Orvantis Language";
inline constexpr char kLibraryTypeKey[] = "HKEY_CLASSES_ROOT\\Tavrin Model Library";
inline constexpr char kApplicationProgIdKey[] = "HKEY_CLASSES_ROOT\\OVX Application";
inline constexpr char kCurVerKey[] = "HKEY_CLASSES_ROOT\\OVX Application\\CurVer";
inline constexpr char kVersionedProgIdKey[] = "HKEY_CLASSES_ROOT\\OVX Application 3800";
inline constexpr char kApplicationClassKey[] = "HKEY_CLASSES_ROOT\\CLSID\\{FDE14674-8E3D-0380-878A-2E97C127D967}";
inline constexpr char kDocumentClassKey[] = "HKEY_CLASSES_ROOT\\CLSID\\{8B371C12-D457-11d1-8A13-006097549CDB}";
inline constexpr char kLibraryClassKey[] = "HKEY_CLASSES_ROOT\\CLSID\\{3209ADC4-9264-11D1-B147-00A024F1AC65}";

struct ProductKey {
    const char* name;  // full path, e.g. "HKEY_CLASSES_ROOT\\.ovxf"
    // The 32-bit view of a 64-bit machine (Software\Wow6432Node): a 64-bit
    // module never writes there, so suites clean it but do not export it.
    bool otherView = false;
};

// Every top key of the product's registration (and of the family's shared
// keys), the vendor's Software keys first, then the classes root: cleaning
// these leaves a registry as if no version had ever been registered.
const std::vector<ProductKey>& ProductKeys();

// The keys of ProductKeys() a registration can write (otherView ones left out),
// in the same order: what a suite exports to compare two registrations.
std::vector<std::string> ExportedProductKeys();

// The modelling system's Dir key, and a REGEDIT4 seed that holds just its bin
// directory: the installation the document steps need to write command lines.
extern const char kSystemDirKey[];
extern const char kSystemDirSeed[];

}  // namespace qz::test
