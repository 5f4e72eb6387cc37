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

}  // namespace

void MsiSession::Log(const std::string& text) const {
    OwnedHandle record(MsiCreateRecord(1));
    MsiRecordSetStringW(record.get(), 0, L"QzRegistrationRows: [1]");
    MsiRecordSetStringW(record.get(), 1, Utf8ToWide(text).c_str());
    MsiProcessMessage(install_, INSTALLMESSAGE_INFO, record.get());
}

std::string MsiSession::Format(const std::wstring& formatted) const {
    OwnedHandle record(MsiCreateRecord(0));
    MsiRecordSetStringW(record.get(), 0, formatted.c_str());
    DWORD size = 0;
    wchar_t empty[1] = {L'\0'};
    if (MsiFormatRecordW(install_, record.get(), empty, &size) != ERROR_MORE_DATA && size == 0) return std::string();
    std::wstring text(size + 1, L'\0');
    DWORD length = size + 1;
    if (MsiFormatRecordW(install_, record.get(), text.data(), &length) != ERROR_SUCCESS) return std::string();
    text.resize(length);
    return WideToUtf8(text);
}

bool MsiSession::InsertTemporaryRows(const std::vector<InstallerRow>& rows, const std::wstring& component,
                                     std::string& error) const {
    OwnedHandle database(MsiGetActiveDatabase(install_));
    if (database.get() == 0) {
        error = "the package's database cannot be opened";
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
        OwnedHandle record(MsiCreateRecord(registryRow ? 6 : 5));
        const std::wstring id = L"QzRow" + std::to_wstring(++number);
        MsiRecordSetStringW(record.get(), 1, id.c_str());
        MsiRecordSetInteger(record.get(), 2, row.root);
        MsiRecordSetStringW(record.get(), 3, Utf8ToWide(row.key).c_str());
        MsiRecordSetStringW(record.get(), 4, Utf8ToWide(row.name).c_str());  // "" is a null column
        if (registryRow) {
            MsiRecordSetStringW(record.get(), 5, row.value ? Utf8ToWide(*row.value).c_str() : L"");
            MsiRecordSetStringW(record.get(), 6, component.c_str());
        } else {
            MsiRecordSetStringW(record.get(), 5, component.c_str());
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
