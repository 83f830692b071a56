#include "platform/Help.h"
#include "tests/support/TempDir.h"

#include <filesystem>
#include <gtest/gtest.h>

// Each case lays out a tree with the program in bin/ and copies of the manual where listed; the
// search must pick the first place of its order, or none.
TEST(ManualPath, FindsTheManualBesideTheProgramItsShareFolderOrTheSourceTree)
{
    struct Case {
        std::vector<std::string> manuals; // relative to the tree
        bool withSource;
        std::string expected; // relative to the tree; empty for none
    } cases[] = {
        {{"bin/loader.html", "share/tavrin-loader/loader.html"}, true, "bin/loader.html"},
        {{"share/tavrin-loader/loader.html"}, true, "share/tavrin-loader/loader.html"},
        {{"share/tavrin-loader/loader.html", "share/loader/loader.html"},
         false,
         "share/tavrin-loader/loader.html"},
        {{"share/loader/loader.html"}, false, "share/loader/loader.html"},
        {{"src/docs/loader.html"}, true, "src/docs/loader.html"},
        {{"src/docs/loader.html"}, false, ""},
        {{"share/doc/tavrin-loader/loader.html"}, true, ""},
        {{}, true, ""},
    };
    for (const Case &c : cases) {
        testsupport::TempDir dir;
        const std::filesystem::path tree = dir.Path();
        std::filesystem::create_directories(tree / "bin");
        std::filesystem::create_directories(tree / "src");
        for (const std::string &manual : c.manuals) {
            std::filesystem::create_directories((tree / manual).parent_path());
            dir.Write(manual, "<html></html>");
        }
        const std::string found = platform::ManualPathFor(
            (tree / "bin").string(), c.withSource ? (tree / "src").string() : std::string());
        const std::string expected = c.expected.empty() ? "" : (tree / c.expected).string();
        EXPECT_EQ(found, expected) << (c.manuals.empty() ? "no manual" : c.manuals.front());
    }
}
