#include "platform/RuntimeFolder.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform
{

bool MakePrivateFolder(const std::string &path)
{
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST)
        return false;
    // Checked through the opened folder itself, so what is checked is what gets used.
    const int fd = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat info {
    };
    const bool ours =
        ::fstat(fd, &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == ::geteuid();
    // The umask may have taken bits away, or an earlier run left the folder open to others.
    const bool privateToUs = ours && ((info.st_mode & 07777) == 0700 || ::fchmod(fd, 0700) == 0);
    ::close(fd);
    return privateToUs;
}

TRuntimeFolder::TRuntimeFolder()
{
    const char *current = std::getenv("XDG_RUNTIME_DIR");
    if (current && *current)
        return;
    const char *temporary = std::getenv("TMPDIR");
    const std::string parent = temporary && *temporary == '/' ? temporary : "/tmp";
    std::string path = parent + "/loader-runtime-" + std::to_string(::geteuid());
    if (!MakePrivateFolder(path)) {
        // Someone holds the usual name: a fresh folder cannot have been prepared by anyone.
        std::string unique = parent + "/loader-runtime-XXXXXX";
        if (!::mkdtemp(unique.data()))
            return;
        path = unique;
        fresh_ = true;
    }
    if (::setenv("XDG_RUNTIME_DIR", path.c_str(), 1) != 0) {
        if (fresh_)
            ::rmdir(path.c_str());
        return;
    }
    path_ = path;
}

TRuntimeFolder::~TRuntimeFolder()
{
    if (fresh_)
        ::rmdir(path_.c_str());
}

} // namespace platform
