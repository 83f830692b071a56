#include "serial/ApStringResource.h"
#include "serial/Resources.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace serial;

namespace
{

using Bytes = std::vector<unsigned char>;

// Registers a resource for one test and removes it afterwards.
class ScopedResource
{
  public:
    ScopedResource(std::string name, Bytes bytes) : name_(std::move(name))
    {
        RegisterResource(name_, std::move(bytes));
    }
    ScopedResource(std::string name, ResourceLoader loader) : name_(std::move(name))
    {
        RegisterResourceLoader(name_, std::move(loader));
    }
    ~ScopedResource() { UnregisterResource(name_); }
    ScopedResource(const ScopedResource &) = delete;
    ScopedResource &operator=(const ScopedResource &) = delete;

  private:
    std::string name_;
};

Bytes NumberedList(int count)
{
    std::vector<std::pair<uint16_t, std::string>> entries;
    for (int id = 1; id <= count; ++id)
        entries.emplace_back(static_cast<uint16_t>(id), "text " + std::to_string(id));
    return PackStringList(entries);
}

std::string ErrorOf(TApStringResource &reader, int id)
{
    try {
        reader.GetString(id);
    } catch (const EApStringResourceError &e) {
        return e.what();
    }
    return "(nothing raised)";
}

} // namespace

TEST(StringResource, ProgramListsHoldTheReaderTexts)
{
    StringResourceReaders readers;
    TApStringResource &strings = readers.Strings();
    EXPECT_EQ(strings.ResourceName(), "ADSTRES_STRINGS");
    EXPECT_EQ(strings.GetString(1), "String not found: %d");
    EXPECT_EQ(strings.GetString(2), "String resource not found: %s");
    EXPECT_EQ(strings.GetString(3), "Unable to open string resource: %s");
    EXPECT_EQ(strings.GetString(4), "Cannot lock resource");
    EXPECT_EQ(strings.GetString(5), "");

    TApStringResource &socket = readers.SocketErrorStrings();
    EXPECT_EQ(socket.ResourceName(), "APROSOCK_ERROR_STRINGS_ENGLISH");
    EXPECT_EQ(socket.GetString(10061), "Connection refused.");
    EXPECT_EQ(socket.GetString(11004), "Valid name, no data record of requested type.");
    EXPECT_EQ(socket.GetString(9001), "");
}

TEST(StringResource, NamesMatchWithoutCase)
{
    TApStringResource reader("adstres_strings");
    EXPECT_EQ(reader.GetString(4), "Cannot lock resource");
}

TEST(StringResource, CacheKeepsAtMostFiftyAndTrimsOldestBelowFortyFive)
{
    ScopedResource list("TEST_CACHE", NumberedList(60));
    TApStringResource reader("TEST_CACHE");
    for (int id = 1; id <= 50; ++id)
        ASSERT_EQ(reader.GetString(id), "text " + std::to_string(id));
    EXPECT_EQ(reader.CacheCount(), 50u);
    EXPECT_EQ(reader.ListWalks(), 50u);

    // A cached text is served without walking, and does not count as new.
    EXPECT_EQ(reader.GetString(1), "text 1");
    EXPECT_EQ(reader.ListWalks(), 50u);

    EXPECT_EQ(reader.GetString(51), "text 51");
    EXPECT_EQ(reader.CacheCount(), 45u);
    for (int id = 1; id <= 6; ++id)
        EXPECT_FALSE(reader.IsCached(id)) << id;
    for (int id = 7; id <= 51; ++id)
        EXPECT_TRUE(reader.IsCached(id)) << id;

    EXPECT_EQ(reader.GetString(1), "text 1");
    EXPECT_EQ(reader.ListWalks(), 52u);
    EXPECT_EQ(reader.CacheCount(), 46u);
}

TEST(StringResource, MissingIdsAreNotCached)
{
    ScopedResource list("TEST_MISSING", NumberedList(3));
    TApStringResource reader("TEST_MISSING");
    EXPECT_EQ(reader.GetString(99), "");
    EXPECT_EQ(reader.GetString(99), "");
    EXPECT_EQ(reader.CacheCount(), 0u);
    EXPECT_EQ(reader.ListWalks(), 2u);
}

TEST(StringResource, ComplainingReaderRaisesForMissingIds)
{
    ScopedResource list("TEST_COMPLAIN", NumberedList(3));
    TApStringResource reader("TEST_COMPLAIN");
    reader.SetComplain(true);
    EXPECT_EQ(reader.GetString(2), "text 2");
    EXPECT_EQ(ErrorOf(reader, 42), "String not found: 42");
    EXPECT_EQ(ErrorOf(reader, -7), "String not found: -7");
    reader.SetComplain(false);
    EXPECT_EQ(reader.GetString(42), "");
}

TEST(StringResource, ReaderFailuresRaiseWhetherOrNotItComplains)
{
    ScopedResource cannotOpen("TEST_NO_OPEN", [] {
        return LoadedResource{ResourceStatus::CannotOpen, {}};
    });
    ScopedResource cannotLock("TEST_NO_LOCK", [] {
        return LoadedResource{ResourceStatus::CannotLock, {}};
    });
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"TEST_ABSENT", "String resource not found: TEST_ABSENT"},
        {"TEST_NO_OPEN", "Unable to open string resource: TEST_NO_OPEN"},
        {"TEST_NO_LOCK", "Cannot lock resource"},
    };
    for (const auto &[name, text] : cases) {
        TApStringResource reader(name);
        EXPECT_EQ(ErrorOf(reader, 1), text);
        reader.SetComplain(true);
        EXPECT_EQ(ErrorOf(reader, 1), text);
    }
    EXPECT_THROW(TApStringResource("TEST_ABSENT").GetString(1), Exception);
}

TEST(StringResource, ALaterRegisteredResourceIsReadOnTheNextLookup)
{
    TApStringResource reader("TEST_LATE");
    EXPECT_EQ(ErrorOf(reader, 1), "String resource not found: TEST_LATE");
    ScopedResource list("TEST_LATE", NumberedList(1));
    EXPECT_EQ(reader.GetString(1), "text 1");
}

TEST(StringResource, SwitchingResourceStartsAfresh)
{
    ScopedResource first("TEST_FIRST", PackStringList({{1, "one"}}));
    ScopedResource second("TEST_SECOND", PackStringList({{1, "uno"}}));
    TApStringResource reader("TEST_FIRST");
    EXPECT_EQ(reader.GetString(1), "one");
    reader.SetResourceName("TEST_SECOND");
    EXPECT_EQ(reader.CacheCount(), 0u);
    EXPECT_EQ(reader.GetString(1), "uno");
}

TEST(StringResource, ListLayoutAndMalformedData)
{
    struct Case {
        const char *what;
        Bytes bytes;
        int id;
        std::string text;
    };
    const std::vector<Case> cases = {
        {"empty resource", {}, 1, ""},
        {"lone id byte", {1}, 1, ""},
        {"id without text", {1, 0}, 1, ""},
        {"text without NUL", {1, 0, 'A', 'B'}, 1, ""},
        {"good entry", {1, 0, 'A', 0}, 1, "A"},
        {"truncated entry after a good one", {1, 0, 'A', 0, 2, 0, 'B'}, 2, ""},
        {"partial id after a good one", {1, 0, 'A', 0, 2}, 2, ""},
        {"empty text ends the list", {1, 0, 'A', 0, 3, 0, 0, 2, 0, 'B', 0}, 2, ""},
        {"empty first text", {1, 0, 0, 2, 0, 'B', 0}, 2, ""},
        {"little-endian id", {0x34, 0x12, 'X', 0}, 0x1234, "X"},
        {"byte-swapped id misses", {0x34, 0x12, 'X', 0}, 0x3412, ""},
        {"first of duplicates", {7, 0, 'a', 0, 7, 0, 'b', 0}, 7, "a"},
        {"later entry", {1, 0, 'a', 0, 9, 0, 'n', 'i', 'n', 'e', 0}, 9, "nine"},
        {"8-bit text kept", {5, 0, 0xE9, 0xFF, 0}, 5, "\xE9\xFF"},
        {"id zero", {0, 0, 'Z', 0}, 0, "Z"},
        {"no aliasing above 16 bits", {0, 0, 'Z', 0}, 65536, ""},
        {"negative id", {0xFF, 0xFF, 'M', 0}, -1, ""},
        {"id 65535", {0xFF, 0xFF, 'M', 0}, 65535, "M"},
    };
    for (const Case &c : cases) {
        ScopedResource list("TEST_LAYOUT", c.bytes);
        TApStringResource reader("TEST_LAYOUT");
        EXPECT_EQ(reader.GetString(c.id), c.text) << c.what;
    }
}

TEST(StringResource, PackingRejectsTextsThatWouldBreakTheList)
{
    EXPECT_EQ(PackStringList({{0x0102, "ab"}}), (Bytes{0x02, 0x01, 'a', 'b', 0}));
    EXPECT_THROW(PackStringList({{1, ""}}), std::invalid_argument);
    EXPECT_THROW(PackStringList({{1, std::string("a\0b", 3)}}), std::invalid_argument);
}
