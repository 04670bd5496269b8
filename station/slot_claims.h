#pragma once
// Which port of a station holds which device node. Handsets that re-enumerate at once come
// back under each other's old names; a slot whose link still names a node another slot has
// open must not open it too.

#include <map>
#include <string>

namespace kestrel {

class CSlotClaims {
public:
    // False when another port holds the node; otherwise the node is the port's until Release.
    bool Claim(const std::string& node, int port);
    // Everything the port held.
    void Release(int port);

private:
    std::map<std::string, int> m_holders;
};

}  // namespace kestrel
