#include "tools/qzaction/msi_session_win32.h"

#include <msiquery.h>

#include "text/wide_text_win32.h"

namespace qz {
namespace {

// A handle closed when it goes.
class OwnedHandle {
public:
    OwnedHandle() = default;
    explicit OwnedHandle(MSIHANDLE h) : h_(h) {}
    OwnedHandle(const OwnedHandle&) = delete;
    OwnedHandle& operator=(const OwnedHandle&) = delete;
    ~OwnedHandle() {
        if (h_ != 0) MsiCloseHandle(h_);
    }
    MSIHANDLE* put() { return &h_; }
    MSIHANDLE get() const { return h_; }

private:
    MSIHANDLE h_ = 0;
};

std::string Failed(const std::string& call, UINT status) {
    return call + " failed (error " + std::to_string(status) + ")";
}

// The fields of one row's record, each set and checked; false with error naming the field.
bool SetRowFields(MSIHANDLE record, const std::vector<std::wstring>& texts, int rootField, int root,
                  std::string& error) {
    for (std::size_t i = 0; i < texts.size(); ++i) {
        const unsigned field = static_cast<unsigned>(i + 1);
        const UINT status = static_cast<int>(field) == rootField ? MsiRecordSetInteger(record, field, root)
                                                                 : MsiRecordSetStringW(record, field, texts[i].c_str());
        if (status != ERROR_SUCCESS) {
            error = Failed("MsiRecordSet of field " + std::to_string(field), status);
            return false;
        }
    }
    return true;
}

}  // namespace

bool MsiSession::Log(const std::string& text) const {
    OwnedHandle record(MsiCreateRecord(1));
    if (record.get() == 0) return false;
    if (MsiRecordSetStringW(record.get(), 0, L"QzRegistrationRows: [1]") != ERROR_SUCCESS ||
        MsiRecordSetStringW(record.get(), 1, Utf8ToWide(text).c_str()) != ERROR_SUCCESS)
        return false;
    // IDOK, or 0 when the log takes no such message; -1 is an error.
    return MsiProcessMessage(install_, INSTALLMESSAGE_INFO, record.get()) >= 0;
}

std::optional<std::string> MsiSession::Format(const std::wstring& formatted, std::string& error) const {
    OwnedHandle record(MsiCreateRecord(0));
    if (record.get() == 0) {
        error = "MsiCreateRecord failed";
        return std::nullopt;
    }
    if (const UINT status = MsiRecordSetStringW(record.get(), 0, formatted.c_str()); status != ERROR_SUCCESS) {
        error = Failed("MsiRecordSetString of the template", status);
        return std::nullopt;
    }
    // An empty buffer asks for the length (without the NUL); the text may change
    // between the calls no more than the properties do, so one retry with room.
    wchar_t empty[1] = {L'\0'};
    DWORD length = 0;
    UINT status = MsiFormatRecordW(install_, record.get(), empty, &length);
    if (status == ERROR_SUCCESS) return std::string();
    if (status != ERROR_MORE_DATA) {
        error = Failed("MsiFormatRecord", status);
        return std::nullopt;
    }
    std::wstring text(length + 1, L'\0');
    length = static_cast<DWORD>(text.size());
    status = MsiFormatRecordW(install_, record.get(), text.data(), &length);
    if (status != ERROR_SUCCESS) {
        error = Failed("MsiFormatRecord", status);
        return std::nullopt;
    }
    text.resize(length);
    return WideToUtf8(text);
}

bool MsiSession::InsertTemporaryRows(const std::vector<InstallerRow>& rows, const std::wstring& component,
                                     std::string& error) const {
    OwnedHandle database(MsiGetActiveDatabase(install_));
    if (database.get() == 0) {
        error = "the package's database cannot be opened (MsiGetActiveDatabase)";
        return false;
    }
    OwnedHandle registry;
    OwnedHandle removeRegistry;
    UINT status = MsiDatabaseOpenViewW(
        database.get(), L"SELECT `Registry`, `Root`, `Key`, `Name`, `Value`, `Component_` FROM `Registry`",
        registry.put());
    if (status == ERROR_SUCCESS) status = MsiViewExecute(registry.get(), 0);
    if (status == ERROR_SUCCESS)
        status = MsiDatabaseOpenViewW(
            database.get(), L"SELECT `RemoveRegistry`, `Root`, `Key`, `Name`, `Component_` FROM `RemoveRegistry`",
            removeRegistry.put());
    if (status == ERROR_SUCCESS) status = MsiViewExecute(removeRegistry.get(), 0);
    if (status != ERROR_SUCCESS) {
        error = "the package's Registry and RemoveRegistry tables cannot be opened (error " + std::to_string(status) + ")";
        return false;
    }
    int number = 0;
    for (const InstallerRow& row : rows) {
        const bool registryRow = row.table == InstallerRow::Table::Registry;
        const std::wstring id = L"QzRow" + std::to_wstring(++number);
        // "" is a null column: the default value's name, a key row's value.
        std::vector<std::wstring> fields = {id, L"", Utf8ToWide(row.key), Utf8ToWide(row.name)};
        if (registryRow) fields.push_back(row.value ? Utf8ToWide(*row.value) : std::wstring());
        fields.push_back(component);
        OwnedHandle record(MsiCreateRecord(static_cast<UINT>(fields.size())));
        if (record.get() == 0) {
            error = "the row " + DescribeRow(row) + " could not be made: MsiCreateRecord failed";
            return false;
        }
        if (!SetRowFields(record.get(), fields, 2, static_cast<int>(row.root), error)) {
            error = "the row " + DescribeRow(row) + " could not be made: " + error;
            return false;
        }
        status = MsiViewModify(registryRow ? registry.get() : removeRegistry.get(), MSIMODIFY_INSERT_TEMPORARY,
                               record.get());
        if (status != ERROR_SUCCESS) {
            error = "the row " + DescribeRow(row) + " could not be added (error " + std::to_string(status) + ")";
            return false;
        }
    }
    return true;
}

}  // namespace qz
