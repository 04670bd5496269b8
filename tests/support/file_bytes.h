#pragma once
// A file's bytes as a string: what a test compares to see that a file was, or was not, written.

#include <fstream>
#include <iterator>
#include <string>

namespace kestrel::test {

// Empty when the file cannot be read.
inline std::string FileBytes(const std::string& strPath)
{
    std::ifstream in(strPath, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace kestrel::test
