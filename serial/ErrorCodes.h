#pragma once
// Result codes of the serial engine: 0 is success, negative values are errors. Every code here
// has a class and a message in the error model (serial/ApdExcept.h).

namespace serial
{

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

// Modem.
constexpr int ecModemNotStarted = -4001;
constexpr int ecModemBusy = -4002;
constexpr int ecModemNotDialing = -4003;
constexpr int ecNotDialing = -4004;
constexpr int ecAlreadyDialing = -4005;
constexpr int ecModemNotResponding = -4006;
constexpr int ecModemRejectedCommand = -4007;
constexpr int ecModemStatusMismatch = -4008;

// Triggers.
constexpr int ecNoMoreTriggers = -5001;
constexpr int ecTriggerTooLong = -5002;
constexpr int ecBadTriggerHandle = -5003;

// INI database.
constexpr int ecKeyTooLong = -7001;
constexpr int ecDataTooLarge = -7002;
constexpr int ecNoFieldsDefined = -7003;
constexpr int ecIniWrite = -7004;
constexpr int ecIniRead = -7005;
constexpr int ecNoIndexKey = -7006;
constexpr int ecRecordExists = -7007;
constexpr int ecRecordNotFound = -7008;
constexpr int ecDatabaseFull = -7010;
constexpr int ecDatabaseEmpty = -7011;
constexpr int ecDatabaseNotPrepared = -7012;
constexpr int ecBadFieldList = -7013;
constexpr int ecBadFieldForIndex = -7014;

// Fax.
constexpr int ecFaxBadFormat = -8001;
constexpr int ecBadGraphicsFormat = -8002;
constexpr int ecConvertAbort = -8003;
constexpr int ecUnpackAbort = -8004;
constexpr int ecCantMakeBitmap = -8005;
constexpr int ecFaxBadMachine = -8070;
constexpr int ecFaxBadModemResult = -8071;
constexpr int ecFaxTrainError = -8072;
constexpr int ecFaxInitError = -8073;
constexpr int ecFaxBusy = -8074;
constexpr int ecFaxVoiceCall = -8075;
constexpr int ecFaxDataCall = -8076;
constexpr int ecFaxNoDialTone = -8077;
constexpr int ecFaxNoCarrier = -8078;
constexpr int ecFaxSessionError = -8079;
constexpr int ecFaxPageError = -8080;

// Telephony codes run from -13801 to -13886 and -13928 to -13933; each has its own class,
// listed with its code in serial/ApdExcept.h.

} // namespace serial
