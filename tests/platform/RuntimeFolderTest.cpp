#include "platform/RuntimeFolder.h"
#include "tests/support/TempDir.h"

#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

TEST(RuntimeFolder, TakesOnlyAFolderOfItsOwnAndMakesItPrivate)
{
    using Plant = void (*)(const std::string &usual, const std::string &other);
    struct Case {
        const char *what;
        Plant plant;
        bool usualTaken; // else a fresh folder
    };
    const Case cases[] = {
        {"own folder open to others",
         [](const std::string &usual, const std::string &) { ::mkdir(usual.c_str(), 0755); }, true},
        {"symbolic link planted",
         [](const std::string &usual, const std::string &other) {
             ::symlink(other.c_str(), usual.c_str());
         },
         false},
        {"file in the way",
         [](const std::string &usual, const std::string &) { std::ofstream{usual}; }, false},
        // Only root can hand a folder to another user; for anyone else it stays theirs.
        {"another user's folder",
         [](const std::string &usual, const std::string &) {
             ::mkdir(usual.c_str(), 0700);
             [[maybe_unused]] const int changed = ::chown(usual.c_str(), 65534, 65534);
         },
         ::geteuid() != 0},
    };
    const char *const temporary = std::getenv("TMPDIR");
    const std::string savedTemporary = temporary ? temporary : "";
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        testsupport::TempDir dir;
        const std::string usual = dir.File("loader-runtime-" + std::to_string(::geteuid()));
        const std::string other = dir.File("other");
        ::mkdir(other.c_str(), 0700);
        c.plant(usual, other);
        ::setenv("TMPDIR", dir.Path().c_str(), 1);
        ::unsetenv("XDG_RUNTIME_DIR");

        std::string taken;
        {
            const platform::TRuntimeFolder folder;
            taken = folder.Path();
            EXPECT_EQ(std::getenv("XDG_RUNTIME_DIR"), taken);
            EXPECT_EQ(taken == usual, c.usualTaken) << taken;
            EXPECT_EQ(taken.rfind(dir.File("loader-runtime-"), 0), 0u) << taken;
            struct stat info {
            };
            ASSERT_EQ(::lstat(taken.c_str(), &info), 0);
            EXPECT_TRUE(S_ISDIR(info.st_mode) && info.st_uid == ::geteuid());
            EXPECT_EQ(info.st_mode & 07777, 0700u);
        }
        EXPECT_EQ(::access(taken.c_str(), F_OK) == 0, c.usualTaken); // a fresh one goes
        if (savedTemporary.empty())
            ::unsetenv("TMPDIR");
        else
            ::setenv("TMPDIR", savedTemporary.c_str(), 1);
    }
}
