#include "image_path.h"

namespace kestrel {

bool HasImageExtension(std::string_view strPath)
{
    const std::string_view name = strPath.substr(FolderOf(strPath).size());
    const std::size_t dot = name.rfind('.');
    if (dot == std::string_view::npos) return false;
    const std::string_view ext = name.substr(dot + 1);
    if (ext.size() != 3) return false;
    auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
    return lower(ext[0]) == 'b' && lower(ext[1]) == 'i' && lower(ext[2]) == 'n';
}

std::string FolderOf(std::string_view strPath)
{
    const std::size_t slash = strPath.rfind('/');
    return slash == std::string_view::npos ? std::string() : std::string(strPath.substr(0, slash + 1));
}

}  // namespace kestrel
