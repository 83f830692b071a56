#pragma once
// Result codes of the serial engine: 0 is success, negative values are errors. Every code here
// has a class and a message in the error model (serial/ApdExcept.h).

namespace serial {

constexpr int ecOK = 0;

// Runtime input/output errors, negated.
constexpr int ecFileNotFound = -2;
constexpr int ecPathNotFound = -3;
constexpr int ecTooManyFiles = -4;
constexpr int ecAccessDenied = -5;
constexpr int ecInvalidHandle = -6;
constexpr int ecOutOfMemory = -8;
constexpr int ecNotOpen = -103;

// General.
constexpr int ecBadHandle = -1001;
constexpr int ecBadArgument = -1002;
constexpr int ecGotQuitMsg = -1003;
constexpr int ecBufferTooBig = -1004;
constexpr int ecPortNotAssigned = -1005;
constexpr int ecInternal = -1006;
constexpr int ecModemNotAssigned = -1007;
constexpr int ecPhonebookNotAssigned = -1008;
constexpr int ecCannotUseWithWinSock = -1009;

// Opening a port.
constexpr int ecBadId = -2001;
constexpr int ecBaudRate = -2002;
constexpr int ecByteSize = -2003;
constexpr int ecDefault = -2004;
constexpr int ecHardware = -2005;
constexpr int ecMemory = -2006;
constexpr int ecCommNotOpen = -2007;
constexpr int ecAlreadyOpen = -2008;
constexpr int ecNoHandles = -2009;
constexpr int ecNoTimers = -2010;
constexpr int ecNoPortSelected = -2011;

// Serial input/output.
constexpr int ecNullApi = -3001;
constexpr int ecNotSupported = -3002;
constexpr int ecRegisterHandlerFailed = -3003;
constexpr int ecPutBlockFail = -3004;
constexpr int ecGetBlockFail = -3005;
constexpr int ecOutputBufferTooSmall = -3006;
constexpr int ecBufferIsEmpty = -3007;
constexpr int ecTracingNotEnabled = -3008;
constexpr int ecLoggingNotEnabled = -3009;

// Triggers.
constexpr int ecNoMoreTriggers = -5001;
constexpr int ecTriggerTooLong = -5002;
constexpr int ecBadTriggerHandle = -5003;

} // namespace serial
