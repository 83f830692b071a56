// The key map file: field definitions, opening and creating the file, listing and loading
// emulations, how key definitions read, and how keys translate.

#include "terminal/KeyMap.h"

#include "serial/ErrorCodes.h"
#include "tests/support/FifoGuard.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

using namespace terminal;
using testsupport::TempDir;

namespace
{

const std::string Esc = "\x1b";

// A map with one emulation "E" holding the given lines, and the given "Defaults" lines.
std::string MapText(const std::string &emulationLines, const std::string &defaultLines = "")
{
    return "[Index]\nE=#\n[Defaults]\n_Entries=1\n" + defaultLines + "\n[E]\n" + emulationLines +
           "\n";
}

TKeyRecord Press(int16_t shiftState)
{
    TKeyRecord record;
    if (!(shiftState & ssCtrlUp))
        record.KeyboardState[vkControl] = ksDown;
    if (!(shiftState & ssAltUp))
        record.KeyboardState[vkMenu] = ksDown;
    if (!(shiftState & ssShiftUp))
        record.KeyboardState[vkShift] = ksDown;
    return record;
}

TEST(KeyMapFields, ChecksEachDefinition)
{
    const std::string name21(21, 'k'), name22(22, 'k');
    struct Case {
        const char *what;
        std::vector<std::tuple<std::string, std::size_t, bool>> fields; // name, size, index
        int addResult;                                                  // of the last Add
        int checkResult;                                                // of the whole list
    } cases[] = {
        {"nothing defined", {}, 0, -7003},
        {"no index field", {{"Key1", 20, false}}, 0, -7006},
        {"name of 21 fits", {{name21, 20, true}}, 0, 0},
        {"name of 22", {{"E", 30, true}, {name22, 20, false}}, -7001, 0},
        {"index of 32 fits", {{"E", 32, true}}, 0, 0},
        {"index of 33", {{"E", 33, true}}, -7002, -7003},
        {"record of 65520 fits", {{"E", 20, true}, {"Big", 65500, false}}, 0, 0},
        {"record above 65520", {{"E", 20, true}, {"Big", 65501, false}}, -7002, 0},
    };
    for (const auto &c : cases) {
        TKeyMapFields fields;
        int last = 0;
        for (const auto &[name, size, index] : c.fields)
            last = fields.Add(name, size, false, index);
        EXPECT_EQ(last, c.addResult) << c.what;
        EXPECT_EQ(fields.Check(), c.checkResult) << c.what;
        TempDir dir;
        TKeyMap map;
        EXPECT_EQ(map.Open(dir.File("k.ini"), fields), c.checkResult) << c.what;
    }
    EXPECT_EQ(TKeyMapFields::Standard().Fields().size(), 101u);
}

TEST(KeyMap, ReadsKeyDefinitions)
{
    const std::string long21 = "abcdefghijklmnopqrstu";
    struct Case {
        const char *what;
        std::string lines, defaults;
        bool defined;
        int code, shift;
        std::string sequence;
        bool invalid;
    } cases[] = {
        {"full", "Key1=38,14," + Esc + "[A", "", true, 38, 14, Esc + "[A", false},
        {"empty shift field", "Key1=38,,x", "", true, 38, 0, "x", false},
        {"no second comma", "Key1=38,xy", "", true, 38, 0, "xy", false},
        {"commas in the sequence", "Key1=65,6,a,b", "", true, 65, 6, "a,b", false},
        {"no comma", "Key1=38", "", false, 0, 0, "", false},
        {"hash is empty", "Key1=#", "Key1=38,14,d", false, 0, 0, "", false},
        {"empty sequence", "Key1=38,14,", "", true, 38, 14, "", false},
        {"cut to 20", "Key1=38,14," + long21, "", true, 38, 14, long21.substr(0, 20), false},
        {"blanks around", "  Key1 =  38 , 6 , x  ", "", true, 38, 6, " x", false},
        {"quoted whole", "Key1=\"38,14, x \"", "", true, 38, 14, " x ", false},
        {"hexadecimal code", "Key1=$26,14,u", "", true, 38, 14, "u", false},
        {"default used", "", "Key1=40,14,d", true, 40, 14, "d", false},
        {"section wins", "Key1=38,14,u", "Key1=40,14,d", true, 38, 14, "u", false},
        {"default hash", "", "Key1=#", false, 0, 0, "", false},
        {"code not a number", "Key1=up,14,x", "", false, 0, 0, "", true},
        {"code out of range", "Key1=300,14,x", "", false, 0, 0, "", true},
        {"shift not a number", "Key1=38,s,x", "", false, 0, 0, "", true},
    };
    for (const auto &c : cases) {
        TempDir dir;
        dir.Write("k.ini", MapText(c.lines, c.defaults));
        TKeyMap map;
        ASSERT_EQ(map.Open(dir.File("k.ini")), 0) << c.what;
        ASSERT_EQ(map.LoadEmulation("E"), 0) << c.what;
        const TKeyEntry &e = map.Keys()[0];
        EXPECT_EQ(e.Defined, c.defined) << c.what;
        EXPECT_EQ(e.KeyCode, c.code) << c.what;
        EXPECT_EQ(e.ShiftState, c.shift) << c.what;
        EXPECT_EQ(e.Sequence, c.sequence) << c.what;
        EXPECT_EQ(map.InvalidKeys(),
                  c.invalid ? std::vector<std::string>{"Key1"} : std::vector<std::string>{})
            << c.what;
        EXPECT_EQ(map.EmulationName(), "E") << c.what;
    }
}

TEST(KeyMap, ResultCodes)
{
    struct Case {
        const char *what;
        std::string text; // empty: no file
        const char *load;
        int open, names, loaded;
    } cases[] = {
        {"name not marked", "[Index]\nE=#\nF=yes\n[Defaults]\n_Entries=2\n", "F", 0, 0, -7008},
        {"name not listed", "[Index]\nE=#\n[Defaults]\n_Entries=1\n", "G", 0, 0, -7008},
        {"no entries", "[Index]\nE=#\n[Defaults]\n_Entries=0\n", "E", 0, -7011, 0},
        {"no index", "[Defaults]\n_Entries=1\n", "E", 0, -7005, -7008},
        {"missing file", "", "E", 0, -7011, -7008},
        {"UTF-8 mark", "\xEF\xBB\xBF[Index]\nE=#\n[Defaults]\n_Entries=1\n", "E", 0, 0, 0},
        {"UTF-16 beyond 8 bits", "\xFF\xFE[\x01", "E", -7005, -7012, -7012},
    };
    for (const auto &c : cases) {
        TempDir dir;
        if (!c.text.empty())
            dir.Write("k.ini", c.text);
        TKeyMap map;
        std::vector<std::string> names;
        EXPECT_EQ(map.EmulationNames(names), -7012) << c.what;
        EXPECT_EQ(map.LoadEmulation(c.load), -7012) << c.what;
        EXPECT_EQ(map.Open(dir.File("k.ini")), c.open) << c.what;
        EXPECT_EQ(map.EmulationNames(names), c.names) << c.what;
        EXPECT_EQ(map.LoadEmulation(c.load), c.loaded) << c.what;
    }
}

TEST(KeyMap, MissingFileIsCreatedEmpty)
{
    TempDir dir;
    TKeyMap map;
    ASSERT_EQ(map.Open(dir.File("new.ini")), 0);
    EXPECT_EQ(dir.Read("new.ini"), "[Index]\n\n[Defaults]\n_Entries=0\n");
    EXPECT_EQ(map.EntryCount(), 0);
    map.ProcessAllKeys = map.ProcessExtended = true;
    for (uint16_t k = 1; k < 256; ++k) {
        TKeyRecord record = Press(14);
        map.Translate(k, record);
        EXPECT_FALSE(record.Handled) << k;
    }
}

// Refused, not replaced by a new map, and without waiting for a writer.
TEST(KeyMap, FifoIsRefused)
{
    TempDir dir;
    const std::string fifo = dir.File("k.ini");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    TKeyMap map;
    testsupport::RunReleasingFifo(fifo, [&] {
        EXPECT_EQ(map.Open(fifo), serial::ecIniRead);
        EXPECT_EQ(map.Refusal(), fifo + ": not a regular file");
    });
    EXPECT_FALSE(map.IsOpen());
    struct stat st {
    };
    ASSERT_EQ(::stat(fifo.c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

TEST(KeyMap, UnwritableFolderFailsToCreate)
{
    TempDir dir;
    TKeyMap map;
    EXPECT_EQ(map.Open(dir.File("missing/k.ini")), serial::ecIniWrite);
    EXPECT_FALSE(map.IsOpen());
    if (::geteuid() == 0)
        GTEST_SKIP() << "root writes into a read-only folder";
    ASSERT_EQ(::chmod(dir.Path().c_str(), 0500), 0);
    EXPECT_EQ(map.Open(dir.File("k.ini")), serial::ecIniWrite);
    ::chmod(dir.Path().c_str(), 0700);
}

TEST(KeyMap, ListsWholeMarkedNamesWithinTheirSpace)
{
    TempDir dir;
    std::string index;
    for (int i = 0; i < 12; ++i) // 12 names of 9 bytes plus separators: 120 bytes
        index += "Emulator" + std::string(1, static_cast<char>('A' + i)) + "=#\n";
    dir.Write("k.ini", "[Index]\nOff=no\n" + index + "[Defaults]\n_Entries=12\n");
    TKeyMap map;
    ASSERT_EQ(map.Open(dir.File("k.ini")), 0);
    std::vector<std::string> names;
    ASSERT_EQ(map.EmulationNames(names), 0);
    ASSERT_EQ(names.size(), 11u);
    EXPECT_EQ(names.front(), "EmulatorA");
    EXPECT_EQ(names.back(), "EmulatorK");
}

TEST(KeyMap, TranslatesKeys)
{
    TempDir dir;
    dir.Write("k.ini", MapText("Key1=38,14,up\nKey2=38,6,shift-up\nKey3=65,14,a\nKey4=48,14,0\n"
                               "Key5=45,14,first\nKey6=45,14,last\nKey7=16,6,shift\n"
                               "Key8=112,12,ctrl-f1\nKey9=144,14,num"));
    struct Case {
        const char *what;
        uint16_t key;
        int16_t shift;
        bool all, extended;
        bool handled;
        std::string sequence;
    } cases[] = {
        {"up with extended", 38, 14, false, true, true, "up"},
        {"up without extended", 38, 14, false, false, false, ""},
        {"shift up", 38, 6, false, true, true, "shift-up"},
        {"up with ctrl: no entry", 38, 12, false, true, false, ""},
        {"letter without all keys", 'A', 14, false, true, false, ""},
        {"letter with all keys", 'A', 14, true, false, true, "a"},
        {"digit without all keys", '0', 14, false, true, false, ""},
        {"digit with all keys", '0', 14, true, false, true, "0"},
        {"last match wins", 45, 14, false, false, true, "last"},
        {"shift never handled", 16, 6, true, true, false, ""},
        {"num lock never handled", 144, 14, true, true, false, ""},
        {"ctrl F1", 112, 12, false, true, true, "ctrl-f1"},
        {"unmapped", 46, 14, true, true, false, ""},
    };
    for (const auto &c : cases) {
        TKeyMap map;
        ASSERT_EQ(map.Open(dir.File("k.ini")), 0);
        ASSERT_EQ(map.LoadEmulation("E"), 0);
        map.ProcessAllKeys = c.all;
        map.ProcessExtended = c.extended;
        TKeyRecord record = Press(c.shift);
        record.SetSequence("stale");
        TKeyMap::TranslateProc(&map, c.key, record);
        EXPECT_EQ(record.KeyCode, c.key) << c.what;
        EXPECT_EQ(record.ShiftFlags, c.shift) << c.what;
        EXPECT_EQ(record.Handled, c.handled) << c.what;
        EXPECT_EQ(record.Sequence(), c.sequence) << c.what;
    }
}

TEST(KeyMap, ShippedMapLoads)
{
    TKeyMap map;
    ASSERT_EQ(map.Open(LOADER_SOURCE_DIR "/terminal/AWKEYBRD.INI"), 0);
    std::vector<std::string> names;
    ASSERT_EQ(map.EmulationNames(names), 0);
    ASSERT_EQ(names, (std::vector<std::string>{"VT100", "ANSI"}));
    map.ProcessExtended = true;
    struct Case {
        const char *emulation;
        uint16_t key;
        int16_t shift;
        std::string sequence;
    } cases[] = {
        {"VT100", 38, 14, Esc + "[A"},  {"VT100", 37, 6, Esc + "[D"},
        {"VT100", 112, 14, Esc + "OP"}, {"ANSI", 36, 14, Esc + "[1~"},
        {"ANSI", 46, 14, Esc + "[3~"},  {"ANSI", 123, 14, Esc + "[24~"},
    };
    for (const auto &c : cases) {
        ASSERT_EQ(map.LoadEmulation(c.emulation), 0);
        EXPECT_TRUE(map.InvalidKeys().empty()) << c.emulation;
        TKeyRecord record = Press(c.shift);
        map.Translate(c.key, record);
        EXPECT_TRUE(record.Handled) << c.emulation << " " << c.key;
        EXPECT_EQ(record.Sequence(), c.sequence) << c.emulation << " " << c.key;
    }
}

} // namespace
