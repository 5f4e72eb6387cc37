// Asks Windows (here Wine) whether files carry a trusted Authenticode signature.
//
//   verify_trust <root.pem> FILE...
//
// The root certificate (PEM) is first added to the machine's Root store, as an
// administrator would trust a company's own root; then WinVerifyTrust
// (WINTRUST_ACTION_GENERIC_VERIFY_V2, no user interface, no revocation check)
// judges each file. One line per file: "<file><TAB>0x<result>", 0x00000000
// meaning trusted. Exit status 0 when every file could be asked about, 2 when
// the root could not be added.
#include <windows.h>
#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

namespace {

bool AddRootToMachineStore(const char* pemPath) {
    std::ifstream in(pemPath, std::ios::binary);
    const std::string pem((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    DWORD size = 0;
    if (pem.empty() || !CryptStringToBinaryA(pem.c_str(), 0, CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr,
                                             nullptr))
        return false;
    std::string der(size, '\0');
    if (!CryptStringToBinaryA(pem.c_str(), 0, CRYPT_STRING_BASE64HEADER, reinterpret_cast<BYTE*>(&der[0]), &size,
                              nullptr, nullptr))
        return false;
    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
    if (store == nullptr) return false;
    const BOOL added = CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()),
                                                        size, CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
    CertCloseStore(store, 0);
    return added != FALSE;
}

LONG VerifyFile(const wchar_t* path) {
    WINTRUST_FILE_INFO file{};
    file.cbStruct = sizeof file;
    file.pcwszFilePath = path;
    WINTRUST_DATA data{};
    data.cbStruct = sizeof data;
    data.dwUIChoice = WTD_UI_NONE;
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &file;
    data.dwStateAction = WTD_STATEACTION_VERIFY;
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    const LONG result = WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    data.dwStateAction = WTD_STATEACTION_CLOSE;
    WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    return result;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: verify_trust <root.pem> FILE...\n");
        return 2;
    }
    char pemPath[MAX_PATH * 4] = {};
    WideCharToMultiByte(CP_ACP, 0, argv[1], -1, pemPath, sizeof pemPath, nullptr, nullptr);
    if (!AddRootToMachineStore(pemPath)) {
        std::fprintf(stderr, "verify_trust: cannot add %s to the machine's Root store (error %lu)\n", pemPath,
                     GetLastError());
        return 2;
    }
    for (int i = 2; i < argc; ++i)
        std::printf("%ls\t0x%08lx\n", argv[i], static_cast<unsigned long>(VerifyFile(argv[i])));
    return 0;
}
