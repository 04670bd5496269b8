#include "history_format.h"

#include <algorithm>

#include "terminal_text.h"

namespace kestrel {
namespace {

// A name in the journal came from a file or a device: it must not steer the terminal.
std::string Shown(const CJournalRow& row, JournalField eField)
{
    const std::string strText = row.Text(eField);
    return strText.empty() ? "-" : TerminalSafe(strText);
}

}  // namespace

std::string HistoryListing(const std::vector<CJournalRow>& rows, bool bWithStation)
{
    std::vector<JournalField> fields;
    if (bWithStation) fields.push_back(JournalField::StationName);
    fields.insert(fields.end(), ListedJournalFields().begin(), ListedJournalFields().end());
    std::vector<std::vector<std::string>> lines(1);
    for (const JournalField eField : fields) lines[0].emplace_back(FieldInfo(eField).strHeader);
    for (const CJournalRow& row : rows) {
        lines.emplace_back();
        for (const JournalField eField : fields) lines.back().push_back(Shown(row, eField));
    }
    std::vector<std::size_t> widths(fields.size(), 0);
    for (const auto& cells : lines)
        for (std::size_t n = 0; n < cells.size(); ++n) widths[n] = std::max(widths[n], cells[n].size());
    std::string strOut;
    for (const auto& cells : lines) {
        std::string strLine;
        for (std::size_t n = 0; n < cells.size(); ++n) {
            strLine += cells[n];
            if (n + 1 < cells.size()) strLine += std::string(widths[n] - cells[n].size() + 2, ' ');
        }
        strOut += strLine + '\n';
    }
    return strOut;
}

std::string HistoryDetails(const CJournalRow& row)
{
    std::size_t nWidth = 0;
    for (const SJournalFieldInfo& info : JournalFields()) nWidth = std::max(nWidth, info.strHeader.size());
    std::string strOut;
    for (const SJournalFieldInfo& info : JournalFields())
        strOut += std::string(info.strHeader) + ':' + std::string(nWidth - info.strHeader.size() + 1, ' ') + Shown(row, info.eField) + '\n';
    return strOut;
}

CJsonObject HistoryJson(const CJournalRow& row)
{
    CJsonObject object;
    object.Add("event", "run");
    for (const SJournalFieldInfo& info : JournalFields()) {
        const JournalValue& value = row.Get(info.eField);
        if (const auto* pNumber = std::get_if<int64_t>(&value))
            object.Add(info.strColumn, *pNumber);
        else if (const auto* pText = std::get_if<std::string>(&value))
            object.Add(info.strColumn, std::string_view(*pText));
        else
            object.AddNull(info.strColumn);
    }
    return object;
}

}  // namespace kestrel
