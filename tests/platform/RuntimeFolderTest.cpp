#include "platform/RuntimeFolder.h"
#include "tests/support/TempDir.h"

#include <cstdlib>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

// Sets or unsets an environment variable until the guard ends.
class EnvironmentGuard
{
  public:
    EnvironmentGuard(const char *name, const std::optional<std::string> &value) : name_(name)
    {
        if (const char *old = std::getenv(name))
            previous_ = old;
        if (value)
            ::setenv(name, value->c_str(), 1);
        else
            ::unsetenv(name);
    }
    ~EnvironmentGuard()
    {
        if (previous_)
            ::setenv(name_, previous_->c_str(), 1);
        else
            ::unsetenv(name_);
    }

  private:
    const char *name_;
    std::optional<std::string> previous_;
};

mode_t ModeOf(const std::string &path)
{
    struct stat info {
    };
    return ::lstat(path.c_str(), &info) == 0 ? info.st_mode & 07777 : 0;
}

TEST(RuntimeFolder, ProvidesAPrivateFolderAndNeverTakesOneItDoesNotOwn)
{
    enum class Chosen { None, Usual, Fresh };
    struct Case {
        const char *what;
        std::function<void(const std::string &usual, const std::string &other)> plant;
        Chosen chosen;
        bool needsRoot = false;
        std::optional<std::string> runtime = std::nullopt; // XDG_RUNTIME_DIR before
    };
    const Case cases[] = {
        {"nothing there", [](const std::string &, const std::string &) {}, Chosen::Usual},
        {"own folder open to others",
         [](const std::string &usual, const std::string &) { ::mkdir(usual.c_str(), 0755); },
         Chosen::Usual},
        {"symbolic link planted",
         [](const std::string &usual, const std::string &other) {
             ::symlink(other.c_str(), usual.c_str());
         },
         Chosen::Fresh},
        {"file in the way",
         [](const std::string &usual, const std::string &) { std::ofstream{usual}; },
         Chosen::Fresh},
        {"another user's folder",
         [](const std::string &usual, const std::string &) {
             ::mkdir(usual.c_str(), 0700);
             ASSERT_EQ(::chown(usual.c_str(), 65534, 65534), 0);
         },
         Chosen::Fresh, true},
        {"variable already set", [](const std::string &, const std::string &) {}, Chosen::None,
         false, "/run/user/somebody"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        if (c.needsRoot && ::geteuid() != 0)
            continue;
        testsupport::TempDir dir;
        const std::string usual = dir.File("loader-runtime-" + std::to_string(::geteuid()));
        const std::string other = dir.File("other");
        ::mkdir(other.c_str(), 0755);
        c.plant(usual, other);
        const EnvironmentGuard temporary("TMPDIR", dir.Path());
        const EnvironmentGuard runtime("XDG_RUNTIME_DIR", c.runtime);

        std::string fresh;
        {
            const platform::TRuntimeFolder folder;
            const std::string variable = std::getenv("XDG_RUNTIME_DIR");
            EXPECT_EQ(variable, c.runtime.value_or(folder.Path()));
            if (c.chosen == Chosen::None) {
                EXPECT_EQ(folder.Path(), "");
                continue;
            }
            if (c.chosen == Chosen::Usual) {
                EXPECT_EQ(folder.Path(), usual);
            } else {
                fresh = folder.Path();
                EXPECT_NE(fresh, usual);
                EXPECT_EQ(fresh.rfind(dir.File("loader-runtime-"), 0), 0u) << fresh;
            }
            struct stat info {
            };
            ASSERT_EQ(::lstat(folder.Path().c_str(), &info), 0);
            EXPECT_TRUE(S_ISDIR(info.st_mode));
            EXPECT_EQ(info.st_uid, ::geteuid());
            EXPECT_EQ(info.st_mode & 07777, 0700u);
        }
        // What was planted is left as it was; a fresh folder goes with the run.
        EXPECT_EQ(ModeOf(other), 0755u);
        if (!fresh.empty()) {
            EXPECT_EQ(ModeOf(fresh), 0u);
        }
    }
}

} // namespace
