#include "services/journal_csv.h"

#include <cerrno>
#include <cstring>
#include <fstream>

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
    std::ofstream out(strPath, std::ios::binary | std::ios::trunc);
    const std::string strCsv = JournalCsv(rows);
    if (out) out.write(strCsv.data(), static_cast<std::streamsize>(strCsv.size()));
    out.close();
    if (out) return true;
    strError = strPath + " cannot be written: " + std::strerror(errno);
    return false;
}

}  // namespace kestrel
