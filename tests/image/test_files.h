#pragma once
// A temporary folder per test and small helpers to lay image files into it.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel::test {

using Bytes = std::vector<uint8_t>;

class CTempDir {
public:
    CTempDir()
    {
        std::string tmpl = (std::filesystem::temp_directory_path() / "kestrel-test-XXXXXX").string();
        if (::mkdtemp(tmpl.data()) == nullptr) ADD_FAILURE() << "mkdtemp failed";
        m_strPath = tmpl;
    }
    ~CTempDir()
    {
        std::error_code ec;
        std::filesystem::remove_all(m_strPath, ec);
    }
    CTempDir(const CTempDir&) = delete;
    CTempDir& operator=(const CTempDir&) = delete;

    std::string Path(std::string_view name) const { return m_strPath + "/" + std::string(name); }
    const std::string& Folder() const { return m_strPath; }

    std::string Write(std::string_view name, const Bytes& content) const
    {
        const std::string path = Path(name);
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(content.data()), static_cast<std::streamsize>(content.size()));
        EXPECT_TRUE(out.good()) << path;
        return path;
    }

    std::vector<std::string> Names() const
    {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(m_strPath)) names.push_back(entry.path().filename().string());
        return names;
    }

private:
    std::string m_strPath;
};

inline Bytes ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void Put(Bytes& image, std::size_t offset, std::string_view text)
{
    if (image.size() < offset + text.size()) image.resize(offset + text.size(), 0xFF);
    std::copy(text.begin(), text.end(), image.begin() + static_cast<std::ptrdiff_t>(offset));
}

// Bytes that differ from block to block and from one offset to the next.
inline Bytes Pattern(std::size_t size, uint8_t seed = 0)
{
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>((i * 131 + (i >> 11) + seed) & 0xFF);
    return bytes;
}

}  // namespace kestrel::test
