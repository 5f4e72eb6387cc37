/* The registry a host hands the product module: a table of functions shaped
 * like the advapi32 wide ("W") registry calls, with a context pointer for the
 * host. It is plain C on purpose: a host and the module may come from different
 * compilers and runtimes, so nothing but C types crosses between them.
 *
 * - Key handles are opaque pointers. The predefined roots are Windows' own
 *   values, sign-extended to pointer width: HKEY_CLASSES_ROOT (0x80000000),
 *   HKEY_CURRENT_USER (0x80000001), HKEY_LOCAL_MACHINE (0x80000002).
 * - Names, paths and string data are UTF-16, sizes in bytes where advapi32 has
 *   bytes and in characters where it has characters; results are Win32 status
 *   codes (0 for success, 2 not found, 234 more data, 259 no more items, ...).
 * - report_error may be null: the module then shows its own error box. A host
 *   that runs passes without a desktop (a dry run, a check) collects the
 *   messages instead; they arrive as NUL-terminated UTF-8.
 *
 * - note may be null (or lie beyond struct_size): the module then tells the
 *   host nothing beyond the registry calls. A host that compares a
 *   registration with the machine (a check) or turns it into data (a harvest)
 *   takes from the notes what only the module knows about what it writes
 *   (QzNote below), instead of guessing it from key names.
 *
 * A table grows only at its end; struct_size tells the module how much of it
 * the host filled in. */
#ifndef QZ_REGISTRY_TABLE_H
#define QZ_REGISTRY_TABLE_H

#include <stdint.h>
#ifndef __cplusplus
#include <uchar.h>
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef void* QzKey;

/* What a note says about root\path (path UTF-16, below root) and, where the
 * kind names one, its value value_name (null otherwise). A pass may note the
 * same thing more than once. */
typedef enum QzNote {
    /* A registration writes the value as a first default; once it exists with
     * the type written, its data is the machine's (the host application
     * changes it), and a registration that finds other data mends nothing. */
    QZ_NOTE_MACHINE_OWNED_VALUE = 1,
    /* The key and everything below it belong to whichever version of the
     * product is current: the last one registered writes them. */
    QZ_NOTE_CURRENT_VERSIONS_KEY = 2,
    /* Another version of the product is current on this machine, as the pass
     * judged it before writing anything (path: the key that says so); the keys
     * noted as the current version's are that version's. */
    QZ_NOTE_ANOTHER_VERSION_CURRENT = 3,
    /* The pass reads the modelling system's directory value_name from this key. */
    QZ_NOTE_DIRECTORY_VALUE = 4
} QzNote;

typedef struct QzRegistryTable {
    uint32_t struct_size; /* sizeof(QzRegistryTable) as the host compiled it */
    void* context;        /* passed back to every function */

    int32_t (*create_key)(void* context, QzKey root, const char16_t* path, uint32_t options, uint32_t access,
                          QzKey* out);
    int32_t (*open_key)(void* context, QzKey root, const char16_t* path, uint32_t access, QzKey* out);
    int32_t (*set_value)(void* context, QzKey key, const char16_t* name, uint32_t type, const uint8_t* data,
                         uint32_t size);
    int32_t (*query_value)(void* context, QzKey key, const char16_t* name, uint32_t* type, uint8_t* data,
                           uint32_t* size);
    int32_t (*query_info_key)(void* context, QzKey key, uint32_t* sub_keys, uint32_t* values);
    int32_t (*enum_key)(void* context, QzKey key, uint32_t index, char16_t* name, uint32_t* name_length);
    int32_t (*enum_value)(void* context, QzKey key, uint32_t index, char16_t* name, uint32_t* name_length,
                          uint32_t* type, uint8_t* data, uint32_t* data_size);
    int32_t (*delete_key)(void* context, QzKey root, const char16_t* path);
    int32_t (*delete_value)(void* context, QzKey key, const char16_t* name);
    int32_t (*close_key)(void* context, QzKey key);

    void (*report_error)(void* context, const char* message);

    /* The variables the modelling system's expandable directories (REG_EXPAND_SZ)
     * expand with, in place of the module's own process environment; null: the
     * process environment, as regsvr32 gives it. The value of the variable name
     * (UTF-16, names compared as Windows compares them) into value, which has
     * room for *length characters with the NUL. Returns 0 with *length the
     * characters written without the NUL, 2 when no such variable is set, 234
     * with *length the room needed (with the NUL) when it does not fit. */
    int32_t (*environment_variable)(void* context, const char16_t* name, char16_t* value, uint32_t* length);
    /* kind is a QzNote. */
    void (*note)(void* context, uint32_t kind, QzKey root, const char16_t* path, const char16_t* value_name);
} QzRegistryTable;

/* The module's entry point beside DllRegisterServer and DllUnregisterServer:
 * one registration (register_flag nonzero) or unregistration pass of the
 * module against the host's registry. module_path (UTF-8) is the path the
 * registration records for the module; null records the module's own file.
 * Returns 0 (S_OK) when the pass succeeded, 0x80040201 (SELFREG_E_CLASS) when it
 * reported any failure, as the two exports do. */
typedef enum QzPassFlag {
    QZ_PASS_UNREGISTER = 0, /* register_flag: an unregistration pass */
    QZ_PASS_REGISTER = 1    /* register_flag: a registration pass */
} QzPassFlag;

typedef int32_t (*QzRunRegistrationPassFunction)(const QzRegistryTable* registry, int32_t register_flag,
                                                  const char* module_path);
#define QZ_RUN_REGISTRATION_PASS_NAME "QzRunRegistrationPass"

/* The entry point itself, for the module's definition (which the compiler then
 * holds to this line) and for code that links the module's sources, the
 * package's custom action; a host that loads the module takes it by name. */
int32_t QzRunRegistrationPass(const QzRegistryTable* registry, int32_t register_flag, const char* module_path);

#ifdef __cplusplus
}
#endif

#endif
