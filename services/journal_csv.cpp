#include "services/journal_csv.h"

#include "image/replacing_file.h"
#include "services/journal_files.h"

namespace kestrel {
namespace {

std::string CsvCell(std::string_view strText)
{
    if (strText.find_first_of(",\"\r\n") == std::string_view::npos) return std::string(strText);
    std::string strCell = "\"";
    for (const char c : strText) strCell += c == '"' ? std::string("\"\"") : std::string(1, c);
    return strCell + '"';
}

template <class CellOf>
std::string CsvLine(CellOf cellOf)
{
    std::string strLine;
    const char* pszSeparator = "";
    for (const SJournalFieldInfo& info : JournalFields()) {
        strLine += pszSeparator + CsvCell(cellOf(info));
        pszSeparator = ",";
    }
    return strLine + "\r\n";
}

}  // namespace

std::string JournalCsv(const std::vector<CJournalRow>& rows)
{
    std::string strCsv = CsvLine([](const SJournalFieldInfo& info) { return std::string(info.strColumn); });
    for (const CJournalRow& row : rows) strCsv += CsvLine([&row](const SJournalFieldInfo& info) { return row.Text(info.eField); });
    return strCsv;
}

bool WriteJournalCsv(const std::string& strPath, const std::vector<CJournalRow>& rows, std::string& strError)
{
    // Through a link, the file it leads to is replaced, not the link.
    CReplacingFile file(ResolvedPath(strPath));
    const std::string strCsv = JournalCsv(rows);
    if (file.Write(strCsv.data(), strCsv.size()) && file.Commit()) return true;
    strError = strPath + " cannot be written: " + file.Failure();
    return false;
}

}  // namespace kestrel
