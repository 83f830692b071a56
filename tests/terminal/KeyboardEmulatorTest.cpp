// The keyboard emulator component (properties, their side effects and raised errors) and the
// virtual-key numbers of Qt key events.

#include "terminal/ApdKeyboardEmulator.h"
#include "terminal/VirtualKeys.h"

#include "serial/ApdExcept.h"
#include "tests/support/TempDir.h"

#include <QKeyEvent>
#include <gtest/gtest.h>

using namespace terminal;
using testsupport::TempDir;

namespace
{

const char *const TwoMaps = "[Index]\nVT=#\nANSI=#\nOld=\n[Defaults]\n_Entries=2\n"
                            "[VT]\nKey1=38,14,vt-up\n[ANSI]\nKey1=38,14,ansi-up\n";

TEST(KeyboardEmulator, PropertiesAndTheirEffects)
{
    TempDir dir;
    dir.Write("k.ini", TwoMaps);
    TApdKeyboardEmulator kb;
    EXPECT_FALSE(kb.Enabled());
    EXPECT_EQ(kb.MapFileName(), "AWKEYBRD.INI");
    EXPECT_EQ(kb.EmulatorType(), "");
    EXPECT_FALSE(kb.ProcessAllKeys());
    EXPECT_FALSE(kb.ProcessExtended());
    EXPECT_EQ(kb.KeyEmulatorProc(), nullptr);

    kb.SetMapFileName(dir.File("k.ini"));
    kb.SetProcessExtended(true);
    kb.SetEnabled(true);
    EXPECT_EQ(kb.EmulatorNames(), (std::vector<std::string>{"VT", "ANSI"}));
    EXPECT_EQ(kb.EmulatorType(), "VT");
    TKeyRecord record = KeyRecordOf(38, Qt::NoModifier, 0);
    kb.KeyEmulatorProc()(kb.KeyEmulatorContext(), 38, record);
    EXPECT_EQ(record.Sequence(), "vt-up");

    kb.SetEmulatorType("ANSI");
    kb.Translate(38, record);
    EXPECT_EQ(record.Sequence(), "ansi-up");
    kb.SetProcessExtended(false);
    kb.Translate(38, record);
    EXPECT_FALSE(record.Handled);

    // A new file reopens the map and picks its first emulation, also when it has only one.
    dir.Write("other.ini", "[Index]\nX=#\n[Defaults]\n_Entries=1\n");
    kb.SetMapFileName(dir.File("other.ini"));
    EXPECT_TRUE(kb.Enabled());
    EXPECT_EQ(kb.EmulatorNames(), (std::vector<std::string>{"X"}));
    EXPECT_EQ(kb.EmulatorType(), "X");

    kb.SetEnabled(false);
    EXPECT_TRUE(kb.EmulatorNames().empty());
    EXPECT_EQ(kb.EmulatorType(), "");
    EXPECT_EQ(kb.KeyEmulatorContext(), nullptr);
    kb.Translate(38, record);
    EXPECT_EQ(record.KeyCode, 38);
    EXPECT_FALSE(record.Handled);
    EXPECT_EQ(record.Length, 0);

    // A type chosen before enabling stays when the file lists it.
    kb.SetMapFileName(dir.File("k.ini"));
    kb.SetEmulatorType("ANSI");
    kb.SetEnabled(true);
    EXPECT_EQ(kb.EmulatorType(), "ANSI");
}

TEST(KeyboardEmulator, MissingMapIsCreatedAndHandlesNothing)
{
    TempDir dir;
    dir.Enter();
    TApdKeyboardEmulator kb;
    kb.SetEmulatorType("VT100");
    kb.SetProcessAllKeys(true);
    kb.SetProcessExtended(true);
    kb.SetEnabled(true);
    EXPECT_TRUE(kb.Enabled());
    EXPECT_EQ(kb.EmulatorType(), "");
    EXPECT_NE(dir.Read("AWKEYBRD.INI").find("_Entries=0"), std::string::npos);
    TKeyRecord record;
    for (uint16_t k : {38, 65, 13, 112}) {
        kb.Translate(k, record);
        EXPECT_FALSE(record.Handled) << k;
    }
}

TEST(KeyboardEmulator, RaisesTheErrorsOfItsCodes)
{
    TempDir dir;
    dir.Write("k.ini", TwoMaps);
    TApdKeyboardEmulator kb;
    kb.SetMapFileName(dir.File("k.ini"));
    kb.SetEnabled(true);
    try {
        kb.SetEmulatorType("Old");
        FAIL() << "no exception";
    } catch (const serial::ERecordNotFound &e) {
        EXPECT_EQ(e.ResultCode, -7008);
        EXPECT_STREQ(e.what(), "Record not found in database");
    }
    EXPECT_EQ(kb.EmulatorType(), "VT");

    TApdKeyboardEmulator other;
    other.SetMapFileName(dir.File("missing/k.ini"));
    EXPECT_THROW(other.SetEnabled(true), serial::EIniWrite);
    EXPECT_FALSE(other.Enabled());

    dir.Write("noindex.ini", "[Defaults]\n_Entries=3\n");
    EXPECT_THROW(kb.SetMapFileName(dir.File("noindex.ini")), serial::EIniRead);
    EXPECT_FALSE(kb.Enabled());

    // A refused file is named, with the reason.
    dir.Write("wide.ini", "\xFF\xFE\xAC\x20");
    kb.SetMapFileName(dir.File("wide.ini"));
    try {
        kb.SetEnabled(true);
        FAIL() << "no exception";
    } catch (const serial::EIniRead &e) {
        EXPECT_EQ(e.ResultCode, -7005);
        EXPECT_EQ(std::string(e.what()),
                  "Generic INI file read error: " + dir.File("wide.ini") +
                      ": UTF-16 character U+20AC in line 1 has no 8-bit form");
    }
    EXPECT_FALSE(kb.Enabled());

    // While loading, a failing setter does not raise.
    kb.SetMapFileName(dir.File("k.ini"));
    kb.SetEnabled(true);
    kb.BeginLoading();
    EXPECT_NO_THROW(kb.SetEmulatorType("Nowhere"));
    kb.EndLoading();
}

TEST(VirtualKeys, QtKeysToWindowsNumbers)
{
    struct Case {
        int key;
        Qt::KeyboardModifiers mods;
        uint16_t vk;
    } cases[] = {
        {Qt::Key_A, Qt::NoModifier, 0x41},
        {Qt::Key_Z, Qt::ShiftModifier, 0x5A},
        {Qt::Key_0, Qt::NoModifier, 0x30},
        {Qt::Key_7, Qt::KeypadModifier, 0x67},
        {Qt::Key_F1, Qt::NoModifier, 0x70},
        {Qt::Key_F24, Qt::NoModifier, 0x87},
        {Qt::Key_Left, Qt::NoModifier, 0x25},
        {Qt::Key_Up, Qt::KeypadModifier, 0x26},
        {Qt::Key_PageUp, Qt::NoModifier, 0x21},
        {Qt::Key_Insert, Qt::NoModifier, 0x2D},
        {Qt::Key_Delete, Qt::NoModifier, 0x2E},
        {Qt::Key_Enter, Qt::KeypadModifier, 0x0D},
        {Qt::Key_Backtab, Qt::ShiftModifier, 0x09},
        {Qt::Key_Backspace, Qt::NoModifier, 0x08},
        {Qt::Key_Escape, Qt::NoModifier, 0x1B},
        {Qt::Key_Control, Qt::NoModifier, 0x11},
        {Qt::Key_Alt, Qt::NoModifier, 0x12},
        {Qt::Key_CapsLock, Qt::NoModifier, 0x14},
        {Qt::Key_NumLock, Qt::NoModifier, 0x90},
        {Qt::Key_Asterisk, Qt::KeypadModifier, 0x6A},
        {Qt::Key_Asterisk, Qt::NoModifier, '8'},
        {Qt::Key_Minus, Qt::KeypadModifier, 0x6D},
        {Qt::Key_Minus, Qt::NoModifier, 0xBD},
        {Qt::Key_Period, Qt::KeypadModifier, 0x6E},
        {Qt::Key_Exclam, Qt::ShiftModifier, '1'},
        {Qt::Key_Question, Qt::ShiftModifier, 0xBF},
        {Qt::Key_BraceLeft, Qt::ShiftModifier, 0xDB},
        {Qt::Key_Apostrophe, Qt::NoModifier, 0xDE},
        {Qt::Key_unknown, Qt::NoModifier, 0},
    };
    for (const auto &c : cases)
        EXPECT_EQ(VirtualKeyOf(c.key, c.mods), c.vk) << std::hex << c.key;
}

TEST(VirtualKeys, ShiftStateAndLocksOfAKeyEvent)
{
    struct Case {
        Qt::KeyboardModifiers mods;
        quint32 native;
        int16_t shift, locks;
    } cases[] = {
        {Qt::NoModifier, 0, 14, 0},
        {Qt::ShiftModifier, 0x01, 6, 0},
        {Qt::ControlModifier, 0x04, 12, 0},
        {Qt::AltModifier, 0x08, 10, 0},
        {Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier, 0, 0, 0},
        {Qt::KeypadModifier, 0x12, 14, klCapsLock | klNumLock},
    };
    for (const auto &c : cases) {
        const QKeyEvent event(QEvent::KeyPress, Qt::Key_Up, c.mods, 0, 0, c.native);
        const TKeyRecord record = KeyRecordOf(event);
        EXPECT_EQ(record.KeyCode, 0x26);
        EXPECT_EQ(record.ShiftFlags, c.shift) << c.mods;
        EXPECT_EQ(ShiftStateOf(record), c.shift) << c.mods;
        EXPECT_EQ(record.LockFlags, c.locks) << c.mods;
        EXPECT_EQ((record.KeyboardState[vkNumLock] & ksToggled) != 0, (c.locks & klNumLock) != 0);
    }
}

} // namespace
