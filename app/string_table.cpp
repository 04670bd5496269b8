#include "app/string_table.h"

#include <array>
#include <utility>

namespace kestrel {
namespace {

// The tooltips carry the id of their control.
constexpr std::array<std::pair<int, std::string_view>, 8> kStrings{{
    {IDS_ABOUTBOX, "Kestrel 정보(&A)..."},
    {IDS_HISTORY, "History(&H)..."},
    {IDS_STATION, "Kestrel 스테이션(&S)..."},
    {1001, "BIN 파일 열기"},
    {1003, "다운로딩 시작"},
    {1008, "다운로딩 취소"},
    {1021, "옵션"},
    {1023, "단말기 SIO를 DM으로.."},
}};

}  // namespace

std::string_view LoadString(int nId)
{
    for (const auto& [nKey, strText] : kStrings)
        if (nKey == nId) return strText;
    return {};
}

}  // namespace kestrel
