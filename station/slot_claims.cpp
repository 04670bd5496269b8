#include "station/slot_claims.h"

#include <iterator>

namespace kestrel {

bool CSlotClaims::Claim(const std::string& node, int port)
{
    const auto [it, added] = m_holders.try_emplace(node, port);
    return added || it->second == port;
}

void CSlotClaims::Release(int port)
{
    for (auto it = m_holders.begin(); it != m_holders.end();)
        it = it->second == port ? m_holders.erase(it) : std::next(it);
}

}  // namespace kestrel
