#pragma once
// The symlink that gives the slave a fixed name (--link, --slot-link), kept pointing at the
// current slave.

#include <string>

namespace kestrel::sim {

class CSlaveLink {
public:
    explicit CSlaveLink(std::string path) : m_strPath(std::move(path)) {}
    ~CSlaveLink() { Remove(); }
    CSlaveLink(const CSlaveLink&) = delete;
    CSlaveLink& operator=(const CSlaveLink&) = delete;

    // Points the link at the target, replacing an earlier symlink in one step; refuses to
    // replace anything that is not a symlink.
    bool Place(const std::string& target, std::string& error);
    // Removes the link if it still points where this object put it.
    void Remove();

private:
    std::string m_strPath;
    std::string m_strTarget;
};

}  // namespace kestrel::sim
