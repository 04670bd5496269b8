#pragma once
// The handset's flash: erased to 0xFF, written block by block, dumped at the end.
// It keeps which bytes hold written data, so the dump and the summary can say what arrived.

#include <cstddef>
#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <vector>

namespace kestrel::sim {

class CFlashModel {
public:
    explicit CFlashModel(std::size_t size);

    std::size_t Size() const { return m_vecBytes.size(); }
    // True when [addr, addr + length) lies inside the flash.
    bool Contains(uint64_t addr, uint64_t length) const;
    // Both ranges must lie inside the flash (Contains).
    void Erase(uint32_t addr, uint32_t length);
    void Write(uint32_t addr, std::span<const uint8_t> data);

    // Written ranges [start, end), merged and in address order; erasing takes bytes out again.
    std::vector<std::pair<uint32_t, uint32_t>> WrittenRanges() const;
    uint64_t WrittenBytes() const;
    // One past the highest written byte; 0 when nothing is written.
    uint32_t End() const;
    std::span<const uint8_t> Bytes() const { return m_vecBytes; }

    // Writes bytes [0, End()) to a file, through a temporary file renamed into place, so the
    // file is either the whole dump or left as it was.
    bool Dump(const std::string& path, std::string& error) const;

private:
    void RemoveRange(uint32_t start, uint32_t end);

    std::vector<uint8_t> m_vecBytes;
    std::map<uint32_t, uint32_t> m_mapWritten;  // start -> end, disjoint and not touching
};

}  // namespace kestrel::sim
