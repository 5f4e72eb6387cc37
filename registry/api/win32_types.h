// The Win32 vocabulary the registration logic is written in.
//
// On Windows this is <windows.h> itself. In the native build the same names are
// defined here with the same values and widths, so that every registration step
// reads exactly like its Win32 counterpart and compiles unchanged in both builds.
#pragma once

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <olectl.h>
#else
#include <cstdint>

struct HKEY__;
typedef HKEY__* HKEY;
typedef std::uint32_t DWORD;
typedef std::int32_t LONG;
typedef std::uint8_t BYTE;
typedef DWORD REGSAM;
typedef std::int32_t HRESULT;

// Predefined roots: 32-bit values sign-extended to pointer width, as on 64-bit Windows.
#define QZ_PREDEFINED_KEY(v) (reinterpret_cast<HKEY>(static_cast<std::intptr_t>(static_cast<std::int32_t>(v))))
#define HKEY_CLASSES_ROOT QZ_PREDEFINED_KEY(0x80000000u)
#define HKEY_CURRENT_USER QZ_PREDEFINED_KEY(0x80000001u)
#define HKEY_LOCAL_MACHINE QZ_PREDEFINED_KEY(0x80000002u)
#define HKEY_USERS QZ_PREDEFINED_KEY(0x80000003u)

#define ERROR_SUCCESS 0L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_PATH_NOT_FOUND 3L
#define ERROR_ACCESS_DENIED 5L
#define ERROR_INVALID_HANDLE 6L
#define ERROR_OUTOFMEMORY 14L
#define ERROR_INVALID_PARAMETER 87L
#define ERROR_BAD_PATHNAME 161L
#define ERROR_MORE_DATA 234L
#define ERROR_NO_MORE_ITEMS 259L
#define ERROR_KEY_DELETED 1018L
#define ERROR_CHILD_MUST_BE_VOLATILE 1021L

#define REG_NONE 0u
#define REG_SZ 1u
#define REG_EXPAND_SZ 2u
#define REG_BINARY 3u
#define REG_DWORD 4u
#define REG_DWORD_BIG_ENDIAN 5u
#define REG_LINK 6u
#define REG_MULTI_SZ 7u
#define REG_RESOURCE_LIST 8u
#define REG_FULL_RESOURCE_DESCRIPTOR 9u
#define REG_RESOURCE_REQUIREMENTS_LIST 10u
#define REG_QWORD 11u

#define REG_OPTION_NON_VOLATILE 0u
#define REG_OPTION_VOLATILE 1u

#define KEY_QUERY_VALUE 0x0001u
#define KEY_SET_VALUE 0x0002u
#define KEY_CREATE_SUB_KEY 0x0004u
#define KEY_ENUMERATE_SUB_KEYS 0x0008u
#define KEY_READ 0x20019u
#define KEY_WRITE 0x20006u
#define KEY_ALL_ACCESS 0xF003Fu

#define S_OK static_cast<HRESULT>(0)
#define SELFREG_E_CLASS static_cast<HRESULT>(0x80040201u)
#endif
