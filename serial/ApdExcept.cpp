#include "serial/ApdExcept.h"

#include "serial/ApdBaseComponent.h"
#include "serial/ErrorMessages.h"

#include <algorithm>
#include <array>
#include <iterator>

namespace serial
{

namespace
{

using Raiser = void (*)(int32_t code, std::string message);

template <class E> [[noreturn]] void Raise(int32_t code, std::string message)
{
    throw E(code, std::move(message));
}

struct CodeClass {
    int32_t code;
    Raiser raise;
};

// Every engine code with its class, in any order; sorted once at compile time below.
constexpr CodeClass CodeClassList[] = {
    // General.
    {-1001, Raise<EBadHandle>},
    {-1002, Raise<EBadArgument>},
    {-1003, Raise<EGotQuitMsg>},
    {-1004, Raise<EBufferTooBig>},
    {-1005, Raise<EPortNotAssigned>},
    {-1006, Raise<EInternal>},
    {-1007, Raise<EModemNotAssigned>},
    {-1008, Raise<EPhonebookNotAssigned>},
    {-1009, Raise<ECannotUseWithWinSock>},
    // Opening a port.
    {-2001, Raise<EBadId>},
    {-2002, Raise<EBaudRate>},
    {-2003, Raise<EByteSize>},
    {-2004, Raise<EDefault>},
    {-2005, Raise<EHardware>},
    {-2006, Raise<EMemory>},
    {-2007, Raise<ECommNotOpen>},
    {-2008, Raise<EAlreadyOpen>},
    {-2009, Raise<ENoHandles>},
    {-2010, Raise<ENoTimers>},
    {-2011, Raise<ENoPortSelected>},
    // Serial input/output.
    {-3001, Raise<ENullApi>},
    {-3002, Raise<ENotSupported>},
    {-3003, Raise<ERegisterHandlerFailed>},
    {-3004, Raise<EPutBlockFail>},
    {-3005, Raise<EGetBlockFail>},
    {-3006, Raise<EOutputBufferTooSmall>},
    {-3007, Raise<EBufferIsEmpty>},
    {-3008, Raise<ETracingNotEnabled>},
    {-3009, Raise<ELoggingNotEnabled>},
    // Modem.
    {-4001, Raise<EModemNotStarted>},
    {-4002, Raise<EModemBusy>},
    {-4003, Raise<EModemNotDialing>},
    {-4004, Raise<ENotDialing>},
    {-4005, Raise<EAlreadyDialing>},
    {-4006, Raise<EModemNotResponding>},
    {-4007, Raise<EModemRejectedCommand>},
    {-4008, Raise<EModemStatusMismatch>},
    // Triggers.
    {-5001, Raise<ENoMoreTriggers>},
    {-5002, Raise<ETriggerTooLong>},
    {-5003, Raise<EBadTriggerHandle>},
    // Protocol.
    {-6006, Raise<EProtocol>},
    {-6008, Raise<EProtocol>},
    {-6009, Raise<EProtocol>},
    // INI database.
    {-7001, Raise<EKeyTooLong>},
    {-7002, Raise<EDataTooLarge>},
    {-7003, Raise<EInternal>},
    {-7004, Raise<EIniWrite>},
    {-7005, Raise<EIniRead>},
    {-7006, Raise<EInternal>},
    {-7007, Raise<ERecordExists>},
    {-7008, Raise<ERecordNotFound>},
    {-7010, Raise<EDatabaseFull>},
    {-7011, Raise<EDatabaseEmpty>},
    {-7012, Raise<EInternal>},
    {-7013, Raise<EBadFieldList>},
    {-7014, Raise<EBadFieldForIndex>},
    // Fax.
    {-8001, Raise<EFaxBadFormat>},
    {-8002, Raise<EBadGraphicsFormat>},
    {-8003, Raise<EConvertAbort>},
    {-8004, Raise<EUnpackAbort>},
    {-8005, Raise<ECantMakeBitmap>},
    {-8070, Raise<EFaxBadMachine>},
    {-8071, Raise<EFaxBadModemResult>},
    {-8072, Raise<EFaxTrainError>},
    {-8073, Raise<EFaxInitError>},
    {-8074, Raise<EFaxBusy>},
    {-8075, Raise<EFaxVoiceCall>},
    {-8076, Raise<EFaxDataCall>},
    {-8077, Raise<EFaxNoDialTone>},
    {-8078, Raise<EFaxNoCarrier>},
    {-8079, Raise<EFaxSessionError>},
    {-8080, Raise<EFaxPageError>},
// Telephony.
#define APD_TAPI_ENTRY(Magnitude, Name) {-(Magnitude), Raise<Name>},
    APD_TAPI_ERRORS(APD_TAPI_ENTRY)
#undef APD_TAPI_ENTRY
};

constexpr bool ByCode(const CodeClass &a, const CodeClass &b)
{
    return a.code < b.code;
}

constexpr auto CodeClasses = [] {
    std::array<CodeClass, std::size(CodeClassList)> sorted{};
    std::copy(std::begin(CodeClassList), std::end(CodeClassList), sorted.begin());
    std::sort(sorted.begin(), sorted.end(), ByCode);
    return sorted;
}();

static_assert(std::adjacent_find(CodeClasses.begin(), CodeClasses.end(),
                                 [](const CodeClass &a, const CodeClass &b) {
                                     return a.code == b.code;
                                 }) == CodeClasses.end(),
              "each code maps to one class");

constexpr int32_t OutOfMemoryCode = -8;
constexpr int OutOfMemoryMessageId = 11008;
constexpr int32_t FirstInOutCode = -2;
constexpr int32_t LastInOutCode = -162;

} // namespace

int RaiseOnError(const TApdBaseComponent *component, int code)
{
    if (code >= 0 || (component != nullptr && component->Loading()))
        return code;

    const auto found =
        std::lower_bound(CodeClasses.begin(), CodeClasses.end(), CodeClass{code, nullptr}, ByCode);
    if (found != CodeClasses.end() && found->code == code)
        found->raise(code, ErrorMessage(code));
    if (code == OutOfMemoryCode)
        throw EOutOfMemory(MessageById(OutOfMemoryMessageId));
    if (code <= FirstInOutCode && code >= LastInOutCode)
        throw EInOutError(-code, ErrorMessage(code));
    throw EAPDException(code, "Apro exception");
}

} // namespace serial
