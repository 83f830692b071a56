#pragma once
// The command record: what an emulator's parser makes of the byte just received, and what the
// screen buffer's character processor carries out. It lives in the buffer and is not cleared
// between bytes, so a field a command does not set keeps its previous value.

#include <cstdint>

namespace terminal
{

// Emulation types. AnsiBbs parses exactly as Ansi; only Ansi gets the fallback of a restore
// without a saved cursor.
enum TEmulationType : uint8_t {
    etNone = 0,
    etAnsi = 1,
    etVt52 = 2,
    etVt100 = 3,
    etAnsiBbs = 4,
};
constexpr uint8_t kLastEmulationType = etAnsiBbs;

// Character sets a VT100 can designate into G0 and G1.
enum TCharSet : uint8_t {
    csAscii = 0,
    csDecGraphics = 1,
};

// Parameters one control sequence may carry; the parser drops any past these.
constexpr int kRecordParams = 16;

struct TCommandRecord {
    uint8_t Character = 0;  // the byte just received
    uint8_t Command = 0;    // command code; 0 = nothing to do
    uint8_t X = 0;          // first argument: column, count or mode selector
    uint8_t Y = 0;          // second argument: row, count or selector
    uint8_t Foreground = 0; // colour index set by the colour command
    uint8_t Background = 0;
    uint8_t Attributes = 0;    // attribute bits, as the buffer's cells keep them
    uint8_t EmulationType = 0; // type of the emulator that produced the command
    uint8_t Count = 0;         // characters for the write-string command
    uint8_t Chars[15] = {};    // characters for the write-string command
    // The private modes of a set or reset private mode command (ESC [ ? 25 ; 1049 h), in the
    // order sent. Only those commands fill them.
    uint8_t ParamCount = 0;
    uint16_t Params[kRecordParams] = {};
};

// Command codes an emulator puts into TCommandRecord::Command. Codes the screen buffer does not
// act on are still produced (the parser recognised the sequence, so it is not drawn); they carry
// the ECMA-48 / VT100 mnemonic of the function they stand for.
namespace cmd
{
enum : uint8_t {
    Nothing = 0,
    WriteChar = 1,
    CursorPosition = 2, // X column, Y page row, both 1-based; 0 keeps the coordinate
    CursorUp = 3,
    CursorDown = 4,
    CursorRight = 5,
    CursorLeft = 6,
    EraseDisplayA = 7, // 7, 8, 9 and 50 all erase in display (mode in X)
    EraseDisplayB = 8,
    EraseDisplayC = 9,
    EraseLineA = 10, // 10, 11, 12 and 52 all erase in line (mode in X)
    EraseLineB = 11,
    EraseLineC = 12,
    SetModeAnsi = 13, // SM
    ShiftOut = 14,    // SO: G1 in use (VT100)
    ShiftIn = 15,     // SI: G0 in use (VT100)
    SetColors = 16,
    SaveCursor = 17,
    RestoreCursor = 18,
    DeviceStatusReport = 19,
    WriteString = 20, // Count characters from Chars
    HorizontalTab = 21,
    TabBackward = 31,         // CBT
    CancelCharacter = 32,     // CCH
    CursorToColumn = 33,      // CHA, HPA
    TabForward = 34,          // CHT
    NextLineN = 35,           // CNL
    PreviousLine = 36,        // CPL
    PositionReport = 37,      // CPR arriving from the host
    ModeCursorKeys = 38,      // VT100 mode 3 (X: 1 set, 0 reset)
    TabControl = 39,          // CTC
    VerticalTab = 40,         // CVT
    DeviceAttributes = 41,    // DA
    DefineAreaQualifier = 42, // DAQ
    DeleteChars = 43,         // DCH
    DeviceControlString = 44, // DCS
    DeleteLines = 45,         // DL
    EraseArea = 47,           // EA
    EraseChars = 49,          // ECH
    EraseDisplay = 50,        // ED
    EraseField = 51,          // EF
    EraseLine = 52,           // EL
    EndMessage = 53,          // EMI
    EndGuardedArea = 54,      // EPA
    EndSelectedArea = 56,     // ESA
    TabJustify = 64,          // HTJ
    SetTab = 65,              // HTS
    InsertChars = 66,         // ICH
    InsertLines = 67,         // IL
    Interrupt = 68,           // INT
    ModeInsert = 69,          // VT100 mode 4
    ModeKeyboardLock = 71,    // VT100 mode 2
    ModeNewLine = 72,         // VT100 mode 20
    MediaCopy = 74,           // MC
    MessageWaiting = 75,      // MW
    NextLine = 76,            // NEL
    NextPage = 77,            // NP
    PartialLineDown = 79,     // PLD
    PartialLineUp = 80,       // PLU
    PrivacyMessage = 81,      // PM
    PrecedingPage = 82,       // PP
    PrivateUse1 = 83,         // PU1
    PrivateUse2 = 84,         // PU2
    RepeatChar = 87,          // REP
    ReverseIndex = 88,        // RI
    ResetInitial = 89,        // RIS
    ResetModeAnsi = 90,       // RM
    ScrollDown = 92,          // SD
    SelectEditingExtent = 93, // SEE
    StartGuardedArea = 95,    // SPA
    SingleShift2 = 100,       // SS2
    SingleShift3 = 101,       // SS3
    StartSelectedArea = 102,  // SSA
    StringTerminator = 103,   // ST
    SetTransmitState = 104,   // STS
    ScrollUp = 105,           // SU
    TabClear = 106,           // TBC
    CursorToRow = 111,        // VPA
    SetVerticalTab = 112,     // VTS
    SetScrollRegion = 113,    // DECSTBM
    SetPrivateMode = 120,     // DECSET: the modes in ParamCount, Params
    ResetPrivateMode = 121,   // DECRST: the modes in ParamCount, Params
    Index = 122,              // IND (VT100): down one row, scrolling the region at its bottom
    AlignmentTest = 123,      // DECALN: the page filled with "E"
    DesignateCharSet = 124,   // SCS: X the set (0 G0, 1 G1), Y the TCharSet designated
    RequestParameters = 125,  // DECREQTPARM: X 0 or 1
    SequenceError = 255,      // the sequence broke the rules; its first bytes are in Count, Chars
};
} // namespace cmd

// An emulator's entry point: given its own context, the byte and the buffer's record, it fills
// the record. The buffer holds a context and a routine; both empty means plain mode.
using TEmulatorRoutine = void (*)(void *context, uint8_t c, TCommandRecord &record);

} // namespace terminal
