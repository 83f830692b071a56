#include "serial/ApdBaseComponent.h"
#include "serial/ApdExcept.h"
#include "serial/ErrorCodes.h"
#include "serial/ErrorMessages.h"

#include <gtest/gtest.h>

#include <climits>
#include <optional>
#include <set>
#include <string>
#include <typeindex>
#include <vector>

using namespace serial;

namespace
{

using FamilyCheck = bool (*)(const EAPDException &);

template <class F> bool Is(const EAPDException &e)
{
    return dynamic_cast<const F *>(&e) != nullptr;
}

struct Family {
    const char *name;
    FamilyCheck check;
};

const Family Families[] = {
    {"EGeneral", Is<EGeneral>}, {"EOpenComm", Is<EOpenComm>}, {"ESerialIO", Is<ESerialIO>},
    {"EModem", Is<EModem>},     {"ETrigger", Is<ETrigger>},   {"EProtocol", Is<EProtocol>},
    {"EINI", Is<EINI>},         {"EFax", Is<EFax>},           {"ETapi", Is<ETapi>},
};

struct CodeCase {
    int code;
    std::type_index cls;
    const char *family;
    std::string text;
};

#define CASE(code, cls, family, text)                                                              \
    {                                                                                              \
        code, typeid(cls), #family, text                                                           \
    }

const std::vector<CodeCase> EngineCodes = {
    CASE(-1001, EBadHandle, EGeneral, "Bad handle passed to com function"),
    CASE(-1002, EBadArgument, EGeneral, "Bad argument passed to function"),
    CASE(-1003, EGotQuitMsg, EGeneral, "Got quit message"),
    CASE(-1004, EBufferTooBig, EGeneral, "Terminal buffer greater than 65521"),
    CASE(-1005, EPortNotAssigned, EGeneral, "ComPort component not assigned"),
    CASE(-1006, EInternal, EGeneral, "Internal error creating window class"),
    CASE(-1007, EModemNotAssigned, EGeneral, ""),
    CASE(-1008, EPhonebookNotAssigned, EGeneral, ""),
    CASE(-1009, ECannotUseWithWinSock, EGeneral, ""),
    CASE(-2001, EBadId, EOpenComm, "ie_BadId - Specified comport doesn't exist"),
    CASE(-2002, EBaudRate, EOpenComm, "ie_Baudrate - unsupported baud rate"),
    CASE(-2003, EByteSize, EOpenComm, "ie_Bytesize - invalid byte size"),
    CASE(-2004, EDefault, EOpenComm, "ie_Default - error in default parameters"),
    CASE(-2005, EHardware, EOpenComm, "ie_Hardware - Specified comport in use"),
    CASE(-2006, EMemory, EOpenComm, "ie_Memory - unable to allocate queues"),
    CASE(-2007, ECommNotOpen, EOpenComm, "ie_NOpen - device not open"),
    CASE(-2008, EAlreadyOpen, EOpenComm, "ie_Open - device already open"),
    CASE(-2009, ENoHandles, EOpenComm, "No more handles, can't open port"),
    CASE(-2010, ENoTimers, EOpenComm, "No timers available"),
    CASE(-2011, ENoPortSelected, EOpenComm,
         "The ComNumber property of the TApdComPort has not been set"),
    CASE(-3001, ENullApi, ESerialIO, "No device layer specified"),
    CASE(-3002, ENotSupported, ESerialIO, "Function not supported by driver"),
    CASE(-3003, ERegisterHandlerFailed, ESerialIO, "EnableCommNotification failed"),
    CASE(-3004, EPutBlockFail, ESerialIO, "Failed to put entire block"),
    CASE(-3005, EGetBlockFail, ESerialIO, "Failed to get entire block"),
    CASE(-3006, EOutputBufferTooSmall, ESerialIO, "Output buffer too small for block"),
    CASE(-3007, EBufferIsEmpty, ESerialIO, "Buffer is empty"),
    CASE(-3008, ETracingNotEnabled, ESerialIO, "Tracing not enabled"),
    CASE(-3009, ELoggingNotEnabled, ESerialIO, "Logging not enabled"),
    CASE(-4001, EModemNotStarted, EModem, ""),
    CASE(-4002, EModemBusy, EModem, ""),
    CASE(-4003, EModemNotDialing, EModem, ""),
    CASE(-4004, ENotDialing, EModem, ""),
    CASE(-4005, EAlreadyDialing, EModem, ""),
    CASE(-4006, EModemNotResponding, EModem, ""),
    CASE(-4007, EModemRejectedCommand, EModem, ""),
    CASE(-4008, EModemStatusMismatch, EModem, ""),
    CASE(-5001, ENoMoreTriggers, ETrigger, "No more trigger slots"),
    CASE(-5002, ETriggerTooLong, ETrigger, "Data trigger too long"),
    CASE(-5003, EBadTriggerHandle, ETrigger, "Bad trigger handle"),
    CASE(-6006, EProtocol, EProtocol, ""),
    CASE(-6008, EProtocol, EProtocol, ""),
    CASE(-6009, EProtocol, EProtocol, ""),
    CASE(-7001, EKeyTooLong, EINI, "Key string too long"),
    CASE(-7002, EDataTooLarge, EINI, "Data string too long"),
    CASE(-7003, EInternal, EGeneral, "No fields defined in database"),
    CASE(-7004, EIniWrite, EINI, "Generic INI file write error"),
    CASE(-7005, EIniRead, EINI, "Generic INI file read error"),
    CASE(-7006, EInternal, EGeneral, "No index defined for database"),
    CASE(-7007, ERecordExists, EINI, ""),
    CASE(-7008, ERecordNotFound, EINI, "Record not found in database"),
    CASE(-7010, EDatabaseFull, EINI, ""),
    CASE(-7011, EDatabaseEmpty, EINI, "No records in database"),
    CASE(-7012, EInternal, EGeneral, "iPrepareIniDatabase not called"),
    CASE(-7013, EBadFieldList, EINI, ""),
    CASE(-7014, EBadFieldForIndex, EINI, ""),
    CASE(-8001, EFaxBadFormat, EFax, ""),
    CASE(-8002, EBadGraphicsFormat, EFax, ""),
    CASE(-8003, EConvertAbort, EFax, ""),
    CASE(-8004, EUnpackAbort, EFax, ""),
    CASE(-8005, ECantMakeBitmap, EFax, ""),
    CASE(-8070, EFaxBadMachine, EFax, ""),
    CASE(-8071, EFaxBadModemResult, EFax, ""),
    CASE(-8072, EFaxTrainError, EFax, ""),
    CASE(-8073, EFaxInitError, EFax, ""),
    CASE(-8074, EFaxBusy, EFax, ""),
    CASE(-8075, EFaxVoiceCall, EFax, ""),
    CASE(-8076, EFaxDataCall, EFax, ""),
    CASE(-8077, EFaxNoDialTone, EFax, ""),
    CASE(-8078, EFaxNoCarrier, EFax, ""),
    CASE(-8079, EFaxSessionError, EFax, ""),
    CASE(-8080, EFaxPageError, EFax, ""),
};

#define TAPI(n, cls) CASE(-(n), cls, ETapi, "")

const std::vector<CodeCase> TelephonyCodes = {
    TAPI(13801, ETapiAllocated),
    TAPI(13802, ETapiBadDeviceID),
    TAPI(13803, ETapiBearerModeUnavail),
    TAPI(13805, ETapiCallUnavail),
    TAPI(13806, ETapiCompletionOverrun),
    TAPI(13807, ETapiConferenceFull),
    TAPI(13808, ETapiDialBilling),
    TAPI(13809, ETapiDialDialtone),
    TAPI(13810, ETapiDialPrompt),
    TAPI(13811, ETapiDialQuiet),
    TAPI(13812, ETapiIncompatibleApiVersion),
    TAPI(13813, ETapiIncompatibleExtVersion),
    TAPI(13814, ETapiIniFileCorrupt),
    TAPI(13815, ETapiInUse),
    TAPI(13816, ETapiInvalAddress),
    TAPI(13817, ETapiInvalAddressID),
    TAPI(13818, ETapiInvalAddressMode),
    TAPI(13819, ETapiInvalAddressState),
    TAPI(13820, ETapiInvalAppHandle),
    TAPI(13821, ETapiInvalAppName),
    TAPI(13822, ETapiInvalBearerMode),
    TAPI(13823, ETapiInvalCallComplMode),
    TAPI(13824, ETapiInvalCallHandle),
    TAPI(13825, ETapiInvalCallParams),
    TAPI(13826, ETapiInvalCallPrivilege),
    TAPI(13827, ETapiInvalCallSelect),
    TAPI(13828, ETapiInvalCallState),
    TAPI(13829, ETapiInvalCallStatelist),
    TAPI(13830, ETapiInvalCard),
    TAPI(13831, ETapiInvalCompletionID),
    TAPI(13832, ETapiInvalConfCallHandle),
    TAPI(13833, ETapiInvalConsultCallHandle),
    TAPI(13834, ETapiInvalCountryCode),
    TAPI(13835, ETapiInvalDeviceClass),
    TAPI(13836, ETapiInvalDeviceHandle),
    TAPI(13837, ETapiInvalDialParams),
    TAPI(13838, ETapiInvalDigitList),
    TAPI(13839, ETapiInvalDigitMode),
    TAPI(13840, ETapiInvalDigits),
    TAPI(13841, ETapiInvalExtVersion),
    TAPI(13842, ETapiInvalGroupID),
    TAPI(13843, ETapiInvalLineHandle),
    TAPI(13844, ETapiInvalLineState),
    TAPI(13845, ETapiInvalLocation),
    TAPI(13846, ETapiInvalMediaList),
    TAPI(13847, ETapiInvalMediaMode),
    TAPI(13848, ETapiInvalMessageID),
    TAPI(13850, ETapiInvalParam),
    TAPI(13851, ETapiInvalParkID),
    TAPI(13852, ETapiInvalParkMode),
    TAPI(13853, ETapiInvalPointer),
    TAPI(13854, ETapiInvalPrivSelect),
    TAPI(13855, ETapiInvalRate),
    TAPI(13856, ETapiInvalRequestMode),
    TAPI(13857, ETapiInvalTerminalID),
    TAPI(13858, ETapiInvalTerminalMode),
    TAPI(13859, ETapiInvalTimeout),
    TAPI(13860, ETapiInvalTone),
    TAPI(13861, ETapiInvalToneList),
    TAPI(13862, ETapiInvalToneMode),
    TAPI(13863, ETapiInvalTransferMode),
    TAPI(13864, ETapiLineMapperFailed),
    TAPI(13865, ETapiNoConference),
    TAPI(13866, ETapiNoDevice),
    TAPI(13867, ETapiNoDriver),
    TAPI(13868, ETapiNoMem),
    TAPI(13869, ETapiNoRequest),
    TAPI(13870, ETapiNotOwner),
    TAPI(13871, ETapiNotRegistered),
    TAPI(13872, ETapiOperationFailed),
    TAPI(13873, ETapiOperationUnavail),
    TAPI(13874, ETapiRateUnavail),
    TAPI(13875, ETapiResourceUnavail),
    TAPI(13876, ETapiRequestOverrun),
    TAPI(13877, ETapiStructureTooSmall),
    TAPI(13878, ETapiTargetNotFound),
    TAPI(13879, ETapiTargetSelf),
    TAPI(13880, ETapiUninitialized),
    TAPI(13881, ETapiUserUserInfoTooBig),
    TAPI(13882, ETapiReinit),
    TAPI(13883, ETapiAddressBlocked),
    TAPI(13884, ETapiBillingRejected),
    TAPI(13885, ETapiInvalFeature),
    TAPI(13886, ETapiNoMultipleInstance),
    TAPI(13928, ETapiBusy),
    TAPI(13929, ETapiNotSet),
    TAPI(13930, ETapiNoSelect),
    TAPI(13931, ETapiLoadFail),
    TAPI(13932, ETapiGetAddrFail),
    TAPI(13933, ETapi16Disabled),
};

// Runs RaiseOnError and hands back what it raised; fails the test when nothing was raised.
template <class E> std::optional<E> Raised(int code)
{
    try {
        RaiseOnError(nullptr, code);
    } catch (const E &e) {
        return e;
    }
    ADD_FAILURE() << "code " << code << " raised nothing";
    return std::nullopt;
}

void ExpectEngineCode(const CodeCase &c)
{
    SCOPED_TRACE("code " + std::to_string(c.code));
    try {
        RaiseOnError(nullptr, c.code);
        ADD_FAILURE() << "nothing raised";
    } catch (const EAPDException &e) {
        EXPECT_EQ(std::type_index(typeid(e)), c.cls);
        EXPECT_EQ(e.ResultCode, c.code);
        EXPECT_EQ(std::string(e.what()), c.text);
        std::vector<std::string> families;
        for (const Family &f : Families) {
            if (f.check(e))
                families.push_back(f.name);
        }
        EXPECT_EQ(families, std::vector<std::string>{c.family});
    }
}

} // namespace

TEST(RaiseOnError, EveryEngineCodeRaisesItsClassTextAndCode)
{
    for (const CodeCase &c : EngineCodes)
        ExpectEngineCode(c);
}

TEST(RaiseOnError, EveryTelephonyCodeRaisesItsOwnClass)
{
    ASSERT_EQ(TelephonyCodes.size(), 90u);
    std::set<std::type_index> classes;
    for (const CodeCase &c : TelephonyCodes) {
        ExpectEngineCode(c);
        classes.insert(c.cls);
    }
    EXPECT_EQ(classes.size(), 90u);
}

TEST(RaiseOnError, NoOtherCodeHasAnEngineClass)
{
    std::set<int> listed;
    for (const auto *table : {&EngineCodes, &TelephonyCodes}) {
        for (const CodeCase &c : *table)
            listed.insert(c.code);
    }
    for (int code = -163; code >= -20000; --code) {
        if (listed.count(code))
            continue;
        try {
            RaiseOnError(nullptr, code);
            ADD_FAILURE() << code << " raised nothing";
        } catch (const EAPDException &e) {
            ASSERT_EQ(std::type_index(typeid(e)), std::type_index(typeid(EAPDException))) << code;
            ASSERT_STREQ(e.what(), "Apro exception") << code;
            ASSERT_EQ(e.ResultCode, code);
        }
    }
}

TEST(RaiseOnError, CatchableAsFamilyAndBase)
{
    EXPECT_THROW(RaiseOnError(nullptr, ecTriggerTooLong), ETrigger);
    EXPECT_THROW(RaiseOnError(nullptr, ecTriggerTooLong), EAPDException);
    EXPECT_THROW(RaiseOnError(nullptr, ecBadId), EOpenComm);
    EXPECT_THROW(RaiseOnError(nullptr, ecNotSupported), Exception);
    EXPECT_THROW(RaiseOnError(nullptr, -13801), std::exception);
}

TEST(RaiseOnError, RuntimeInOutCodesCarryThePositiveNumber)
{
    const std::vector<std::pair<int, std::string>> texts = {
        {-2, "File not found"},
        {-3, "Path not found"},
        {-4, "Too many open files"},
        {-5, "File access denied"},
        {-6, "Invalid file handle"},
        {-7, ""},
        {-100, "Attempt to read beyond end of file"},
        {-101, "Disk is full"},
        {-103, "File/device not open"},
        {-150, "Disk is write-protected"},
        {-162, "General failure"},
    };
    for (const auto &[code, text] : texts) {
        const auto e = Raised<EInOutError>(code);
        ASSERT_TRUE(e) << code;
        EXPECT_EQ(e->ErrorCode, -code);
        EXPECT_EQ(e->Message(), text) << code;
    }
    for (int code = -2; code >= -162; --code) {
        if (code == ecOutOfMemory)
            continue;
        try {
            RaiseOnError(nullptr, code);
            ADD_FAILURE() << code << " raised nothing";
        } catch (const EInOutError &e) {
            EXPECT_EQ(e.ErrorCode, -code);
        } catch (const std::exception &e) {
            ADD_FAILURE() << code << " raised " << typeid(e).name();
        }
    }
}

TEST(RaiseOnError, OutOfMemoryIsItsOwnClass)
{
    try {
        RaiseOnError(nullptr, ecOutOfMemory);
        ADD_FAILURE() << "nothing raised";
    } catch (const EOutOfMemory &e) {
        EXPECT_STREQ(e.what(), "Insufficient memory");
    } catch (const std::exception &e) {
        ADD_FAILURE() << "raised " << typeid(e).name();
    }
}

TEST(RaiseOnError, ZeroAndPositiveCodesPassThrough)
{
    for (int code : {0, 1, 2, 8, 5002, 13801, INT_MAX})
        EXPECT_EQ(RaiseOnError(nullptr, code), code);
}

TEST(RaiseOnError, UnknownNegativeCodesRaiseTheBaseClass)
{
    // -66537 shares its low 16 bits with -1001 and must not borrow its class.
    for (int code :
         {-1, -163, -1010, -5004, -6001, -13804, -13849, -13887, -13934, -66537, INT_MIN}) {
        try {
            RaiseOnError(nullptr, code);
            ADD_FAILURE() << code << " raised nothing";
        } catch (const EAPDException &e) {
            EXPECT_EQ(std::type_index(typeid(e)), std::type_index(typeid(EAPDException))) << code;
            EXPECT_EQ(e.Message(), "Apro exception");
            EXPECT_EQ(e.ResultCode, code);
        }
    }
}

namespace
{

// A component that acts once loading ends, as a port that opens itself does.
class OpensWhenLoaded : public TApdBaseComponent
{
  public:
    void EndLoading() override
    {
        TApdBaseComponent::EndLoading();
        RaiseOnError(this, ecCommNotOpen);
    }
};

} // namespace

TEST(RaiseOnError, NothingIsRaisedWhileTheComponentLoads)
{
    OpensWhenLoaded component;
    EXPECT_FALSE(component.Loading());
    component.BeginLoading();
    EXPECT_TRUE(component.Loading());
    EXPECT_EQ(RaiseOnError(&component, ecTriggerTooLong), ecTriggerTooLong);
    EXPECT_EQ(RaiseOnError(&component, ecOutOfMemory), ecOutOfMemory);
    EXPECT_EQ(RaiseOnError(&component, -6001), -6001);
    EXPECT_THROW(component.EndLoading(), ECommNotOpen);
    EXPECT_FALSE(component.Loading());
    EXPECT_THROW(RaiseOnError(&component, ecTriggerTooLong), ETriggerTooLong);
}

TEST(ErrorMessages, IdRule)
{
    const std::vector<std::pair<int, int>> ids = {
        {-1001, 11101},  {1001, 11101},   {-5003, 11503},  {5003, 11503},   {-2, 11002},
        {-103, 11903},   {0, 11000},      {-99, 11099},    {-100, 11900},   {-199, 11999},
        {-200, 11200},   {-13799, 13099}, {-13800, 13800}, {-13900, 13900}, {-13901, 13201},
        {-13928, 13228}, {-65535, 18035}, {-65536, 11000}, {-66537, 11101}, {INT_MIN, 11000},
    };
    for (const auto &[code, id] : ids)
        EXPECT_EQ(ErrorMessageId(code), id) << code;
}

TEST(ErrorMessages, PlatformTextsAndGaps)
{
    const std::vector<std::pair<int, std::string>> texts = {
        {11000, "OK"},
        {11900, "Attempt to read beyond end of file"},
        {11901, "Disk is full"},
        {11902, "File/device not assigned"},
        {11903, "File/device not open"},
        {11904, "File/device not open for input"},
        {11905, "File/device not open for output"},
        {11906, ""},
        {11950, "Disk is write-protected"},
        {11951, "Unknown unit"},
        {11952, "Drive not ready"},
        {11953, "Unknown command"},
        {11954, "CRC error in data"},
        {11955, "Bad drive request structure length"},
        {11956, "Disk seek error"},
        {11957, "Unknown media type"},
        {11958, "Sector not found"},
        {11959, "Printer out of paper"},
        {11960, "Write fault"},
        {11961, "Read fault"},
        {11962, "General failure"},
        {11963, ""},
        {11001, ""},
        {10999, ""},
        {-11000, ""},
    };
    for (const auto &[id, text] : texts)
        EXPECT_EQ(MessageById(id), text) << id;
    EXPECT_EQ(ErrorMessage(0), "OK");
    EXPECT_EQ(ErrorMessage(ecBadTriggerHandle), "Bad trigger handle");
}
