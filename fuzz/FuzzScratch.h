#pragma once
// A scratch folder for targets that need real files: made once per process (in /dev/shm when it
// can be written, for speed), removed at exit and before a failed property aborts.

#include "fuzz/FuzzCheck.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <unistd.h>

namespace fuzzscratch
{

inline std::string folder;

inline void RemoveFolder()
{
    std::error_code error;
    std::filesystem::remove_all(folder, error);
}

// The folder, made on first use with the given name prefix ("key_map_fuzz", ...).
inline const std::string &Folder(const char *prefix)
{
    if (folder.empty()) {
        const bool shm = ::access("/dev/shm", W_OK) == 0;
        const char *tmp = std::getenv("TMPDIR");
        std::string pattern =
            std::string(shm ? "/dev/shm" : (tmp ? tmp : "/tmp")) + "/" + prefix + ".XXXXXX";
        if (!::mkdtemp(pattern.data()))
            std::abort();
        folder = pattern;
        std::atexit(RemoveFolder);
        fuzzCleanup = RemoveFolder;
    }
    return folder;
}

inline void WriteFile(const std::string &name, std::string_view content)
{
    FILE *f = std::fopen(name.c_str(), "wb");
    FUZZ_CHECK(f != nullptr);
    // An empty input may come with a null pointer, which fwrite must not be given.
    FUZZ_CHECK(content.empty() ||
               std::fwrite(content.data(), 1, content.size(), f) == content.size());
    FUZZ_CHECK(std::fclose(f) == 0);
}

} // namespace fuzzscratch
