// The terminal component's capture file, fed as the component feeds it: by a screen buffer that
// hands on every byte bWriteChar is given.

#include "terminal/CaptureFile.h"
#include "terminal/Buffer.h"

#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace terminal;

namespace
{

struct Captured {
    Captured()
    {
        Buffer = TBuffer::Create(nullptr, 80, 200);
        Buffer->OnWriteByte = [this](uint8_t c) { File.Add(c); };
        File.OnError = [this](uint16_t code) { Errors.push_back(code); };
    }
    void Feed(const std::string &bytes)
    {
        for (unsigned char c : bytes)
            Buffer->bWriteChar(c);
    }

    TCaptureFile File;
    std::vector<uint16_t> Errors;
    std::unique_ptr<TBuffer> Buffer;
};

TEST(CaptureFile, RecordsEveryByte)
{
    testsupport::TempDir dir;
    dir.Enter();
    std::string all;
    for (int i = 0; i < 20000; ++i)
        all += char(i * 7 % 256);
    struct Case {
        bool append;
        const char *existing; // nullptr: no file
        size_t count;
    } cases[] = {{false, "old", 5},      {false, nullptr, 8191}, {false, nullptr, 8192},
                 {false, nullptr, 8193}, {true, "old", 20000},   {true, nullptr, 1}};
    for (const Case &c : cases) {
        const std::string name = c.existing ? "exists.cap" : "";
        if (c.existing)
            dir.Write(name, c.existing);
        else
            ::unlink("CAPTURE.CAP");
        Captured t;
        ASSERT_EQ(t.File.Open(c.append, name), 0);
        t.Feed(all.substr(0, c.count));
        const std::string file = c.existing ? name : "CAPTURE.CAP";
        const std::string before = c.append && c.existing ? c.existing : "";
        // Whole buffers are on disk at once; the rest waits for the flush at the end.
        EXPECT_EQ(dir.Read(file).size(), before.size() + c.count / 8192 * 8192) << c.count;
        t.Buffer->bClearScreen(); // received nothing
        EXPECT_EQ(t.File.Close(), 0);
        EXPECT_EQ(dir.Read(file), before + all.substr(0, c.count)) << c.count;
    }
}

TEST(CaptureFile, Failures)
{
    testsupport::TempDir dir;
    Captured t;
    EXPECT_EQ(t.File.Open(false, dir.Path()), -EISDIR);
    EXPECT_EQ(t.File.Open(true, dir.File("no/such/dir")), -ENOENT);
    // A pipe nobody reads is refused at once rather than holding the window.
    ASSERT_EQ(mkfifo(dir.File("pipe").c_str(), 0600), 0);
    EXPECT_EQ(t.File.Open(false, dir.File("pipe")), -ENXIO);
    EXPECT_FALSE(t.File.IsOpen());
    EXPECT_EQ(t.File.Close(), 0);

    ASSERT_EQ(t.File.Open(true, "/dev/full"), 0);
    t.Feed(std::string(8191, '\a'));
    EXPECT_TRUE(t.File.IsOpen());
    t.Feed("\a");
    EXPECT_FALSE(t.File.IsOpen());
    EXPECT_EQ(t.Errors, std::vector<uint16_t>{uint16_t(65536 - ENOSPC)});
    // Closing with pending bytes reports the failed flush too.
    ASSERT_EQ(t.File.Open(false, "/dev/full"), 0);
    t.Feed("x");
    EXPECT_EQ(t.File.Close(), -ENOSPC);
    EXPECT_EQ(t.Errors.size(), 2u);
}

} // namespace
