#include "app/NormalisedPath.h"

#include <filesystem>

namespace loader
{

std::string NormalisedPath(const std::string &path)
{
    namespace fs = std::filesystem;
    if (path.empty())
        return path;
    std::error_code error;
    const fs::path absolute = fs::absolute(path, error);
    if (error)
        return path;
    const fs::path normal = absolute.lexically_normal();
    // "link/.." is the link target's parent to the system, not the folder holding the link.
    std::error_code absoluteError, normalError;
    const bool absoluteExists = fs::exists(absolute, absoluteError);
    const bool normalExists = fs::exists(normal, normalError);
    const bool same = absoluteExists == normalExists &&
                      (!absoluteExists || fs::equivalent(absolute, normal, error));
    if (same && !error)
        return normal.string();
    const fs::path resolved = fs::weakly_canonical(absolute, error);
    return error ? absolute.string() : resolved.string();
}

} // namespace loader
