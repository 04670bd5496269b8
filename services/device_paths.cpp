#include "services/device_paths.h"

#include <sys/stat.h>

#include <filesystem>

namespace kestrel {
namespace fs = std::filesystem;

std::string AbsolutePath(const std::string& strPath)
{
    std::error_code error;
    return fs::absolute(strPath, error).lexically_normal().string();
}

std::string CanonicalPath(const std::string& strPath)
{
    std::error_code error;
    const fs::path canonical = fs::canonical(strPath, error);
    return error ? std::string() : canonical.string();
}

std::string LiveDevice(const std::string& strPath)
{
    struct stat st {};
    if (::stat(strPath.c_str(), &st) != 0 || !(S_ISCHR(st.st_mode) || S_ISREG(st.st_mode))) return {};
    return CanonicalPath(strPath);
}

std::vector<std::string> LinkChain(const std::string& strPath)
{
    // The kernel's own bound on links followed in one lookup; a loop ends there too.
    constexpr int kMaxLinks = 40;
    fs::path path = AbsolutePath(strPath);
    std::vector<std::string> chain{path.string()};
    std::error_code error;
    for (int i = 0; i < kMaxLinks && fs::is_symlink(path, error); ++i) {
        const fs::path target = fs::read_symlink(path, error);
        if (error) break;
        path = (path.parent_path() / target).lexically_normal();
        chain.push_back(path.string());
    }
    return chain;
}

std::string NearestFolder(const std::string& strPath)
{
    fs::path folder = fs::path(AbsolutePath(strPath)).parent_path();
    std::error_code error;
    while (!fs::is_directory(folder, error) && folder != folder.root_path()) folder = folder.parent_path();
    return folder.string();
}

bool IsUnderDev(const std::string& strPath) { return strPath.rfind("/dev/", 0) == 0; }

}  // namespace kestrel
