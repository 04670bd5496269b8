#pragma once
// kestrel-cli history run as a child process, behind a launcher when one is given (such as
// env TZ=... or setpriv), and what its listing shows.

#include <sstream>
#include <string>
#include <vector>

#include "tests/support/child_process.h"

namespace kestrel::test {

inline ChildResult RunHistory(std::vector<std::string> args, const std::vector<std::string>& launcher = {})
{
    args.insert(args.begin(), {KESTREL_CLI_PATH, "history"});
    args.insert(args.begin(), launcher.begin(), launcher.end());
    return CChildProcess(args).Finish(20000);
}

// The words in one column of each line after the listing's header (0: the id).
inline std::vector<std::string> ListedColumn(const std::string& strOut, std::size_t nColumn = 0)
{
    std::istringstream lines(strOut);
    std::vector<std::string> words;
    std::string strLine;
    std::getline(lines, strLine);
    while (std::getline(lines, strLine)) {
        std::istringstream cells(strLine);
        std::string strWord;
        for (std::size_t n = 0; n <= nColumn; ++n) cells >> strWord;
        words.push_back(strWord);
    }
    return words;
}

}  // namespace kestrel::test
