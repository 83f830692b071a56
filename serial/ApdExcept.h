#pragma once
// The exception classes of the serial engine and RaiseOnError, the one routine that turns a
// negative result code into an exception. The dispatcher and the device layer never raise; the
// components pass their results through RaiseOnError.
//
// Tree: Exception (a message) has three kinds of children. EAPDException adds the result code
// and heads the families (EGeneral, EOpenComm, ...), each with its concrete classes. EInOutError
// and EOutOfMemory stand for runtime input/output and memory failures (codes -2 to -162) and
// are not engine exceptions. EApStringResourceError belongs to the string-list reader.

#include <cstdint>
#include <exception>
#include <string>

namespace serial
{

class TApdBaseComponent;

// Base of every exception here: carries the text shown to the operator.
class Exception : public std::exception
{
  public:
    explicit Exception(std::string message) : message_(std::move(message)) {}
    const char *what() const noexcept override { return message_.c_str(); }
    const std::string &Message() const { return message_; }

  private:
    std::string message_;
};

class EAPDException : public Exception
{
  public:
    EAPDException(int32_t resultCode, std::string message)
        : Exception(std::move(message)), ResultCode(resultCode)
    {
    }

    int32_t ResultCode; // the negative result code that raised it
};

// A runtime input/output failure; ErrorCode holds the positive error number.
class EInOutError : public Exception
{
  public:
    EInOutError(int errorCode, std::string message)
        : Exception(std::move(message)), ErrorCode(errorCode)
    {
    }

    int ErrorCode;
};

class EOutOfMemory : public Exception
{
  public:
    using Exception::Exception;
};

class EApStringResourceError : public Exception
{
  public:
    using Exception::Exception;
};

#define APD_EXCEPTION_CLASS(Name, Parent)                                                          \
    class Name : public Parent                                                                     \
    {                                                                                              \
      public:                                                                                      \
        using Parent::Parent;                                                                      \
    };

// Families.
APD_EXCEPTION_CLASS(EGeneral, EAPDException)
APD_EXCEPTION_CLASS(EOpenComm, EAPDException)
APD_EXCEPTION_CLASS(ESerialIO, EAPDException)
APD_EXCEPTION_CLASS(EModem, EAPDException)
APD_EXCEPTION_CLASS(ETrigger, EAPDException)
APD_EXCEPTION_CLASS(EProtocol, EAPDException)
APD_EXCEPTION_CLASS(EINI, EAPDException)
APD_EXCEPTION_CLASS(EFax, EAPDException)
APD_EXCEPTION_CLASS(ETapi, EAPDException)

APD_EXCEPTION_CLASS(EBadArgument, EGeneral)
APD_EXCEPTION_CLASS(EBadHandle, EGeneral)
APD_EXCEPTION_CLASS(EBufferTooBig, EGeneral)
APD_EXCEPTION_CLASS(ECannotUseWithWinSock, EGeneral)
APD_EXCEPTION_CLASS(EGotQuitMsg, EGeneral)
APD_EXCEPTION_CLASS(EInternal, EGeneral)
APD_EXCEPTION_CLASS(EModemNotAssigned, EGeneral)
APD_EXCEPTION_CLASS(EPhonebookNotAssigned, EGeneral)
APD_EXCEPTION_CLASS(EPortNotAssigned, EGeneral)

APD_EXCEPTION_CLASS(EAlreadyOpen, EOpenComm)
APD_EXCEPTION_CLASS(EBadId, EOpenComm)
APD_EXCEPTION_CLASS(EBaudRate, EOpenComm)
APD_EXCEPTION_CLASS(EByteSize, EOpenComm)
APD_EXCEPTION_CLASS(ECommNotOpen, EOpenComm)
APD_EXCEPTION_CLASS(EDefault, EOpenComm)
APD_EXCEPTION_CLASS(EHardware, EOpenComm)
APD_EXCEPTION_CLASS(EMemory, EOpenComm)
APD_EXCEPTION_CLASS(ENoHandles, EOpenComm)
APD_EXCEPTION_CLASS(ENoPortSelected, EOpenComm)
APD_EXCEPTION_CLASS(ENoTimers, EOpenComm)

APD_EXCEPTION_CLASS(EBufferIsEmpty, ESerialIO)
APD_EXCEPTION_CLASS(EGetBlockFail, ESerialIO)
APD_EXCEPTION_CLASS(ELoggingNotEnabled, ESerialIO)
APD_EXCEPTION_CLASS(ENotSupported, ESerialIO)
APD_EXCEPTION_CLASS(ENullApi, ESerialIO)
APD_EXCEPTION_CLASS(EOutputBufferTooSmall, ESerialIO)
APD_EXCEPTION_CLASS(EPutBlockFail, ESerialIO)
APD_EXCEPTION_CLASS(ERegisterHandlerFailed, ESerialIO)
APD_EXCEPTION_CLASS(ETracingNotEnabled, ESerialIO)

APD_EXCEPTION_CLASS(EAlreadyDialing, EModem)
APD_EXCEPTION_CLASS(EModemBusy, EModem)
APD_EXCEPTION_CLASS(EModemNotDialing, EModem)
APD_EXCEPTION_CLASS(EModemNotResponding, EModem)
APD_EXCEPTION_CLASS(EModemNotStarted, EModem)
APD_EXCEPTION_CLASS(EModemRejectedCommand, EModem)
APD_EXCEPTION_CLASS(EModemStatusMismatch, EModem)
APD_EXCEPTION_CLASS(ENotDialing, EModem)

APD_EXCEPTION_CLASS(EBadTriggerHandle, ETrigger)
APD_EXCEPTION_CLASS(ENoMoreTriggers, ETrigger)
APD_EXCEPTION_CLASS(ETriggerTooLong, ETrigger)

APD_EXCEPTION_CLASS(EBadFieldForIndex, EINI)
APD_EXCEPTION_CLASS(EBadFieldList, EINI)
APD_EXCEPTION_CLASS(EDataTooLarge, EINI)
APD_EXCEPTION_CLASS(EDatabaseEmpty, EINI)
APD_EXCEPTION_CLASS(EDatabaseFull, EINI)
APD_EXCEPTION_CLASS(EIniRead, EINI)
APD_EXCEPTION_CLASS(EIniWrite, EINI)
APD_EXCEPTION_CLASS(EKeyTooLong, EINI)
APD_EXCEPTION_CLASS(ERecordExists, EINI)
APD_EXCEPTION_CLASS(ERecordNotFound, EINI)

APD_EXCEPTION_CLASS(EBadGraphicsFormat, EFax)
APD_EXCEPTION_CLASS(ECantMakeBitmap, EFax)
APD_EXCEPTION_CLASS(EConvertAbort, EFax)
APD_EXCEPTION_CLASS(EFaxBadFormat, EFax)
APD_EXCEPTION_CLASS(EFaxBadMachine, EFax)
APD_EXCEPTION_CLASS(EFaxBadModemResult, EFax)
APD_EXCEPTION_CLASS(EFaxBusy, EFax)
APD_EXCEPTION_CLASS(EFaxDataCall, EFax)
APD_EXCEPTION_CLASS(EFaxInitError, EFax)
APD_EXCEPTION_CLASS(EFaxNoCarrier, EFax)
APD_EXCEPTION_CLASS(EFaxNoDialTone, EFax)
APD_EXCEPTION_CLASS(EFaxPageError, EFax)
APD_EXCEPTION_CLASS(EFaxSessionError, EFax)
APD_EXCEPTION_CLASS(EFaxTrainError, EFax)
APD_EXCEPTION_CLASS(EFaxVoiceCall, EFax)
APD_EXCEPTION_CLASS(EUnpackAbort, EFax)

// The telephony codes (negated) and their classes: X(magnitude, ClassName).
#define APD_TAPI_ERRORS(X)                                                                         \
    X(13801, ETapiAllocated)                                                                       \
    X(13802, ETapiBadDeviceID)                                                                     \
    X(13803, ETapiBearerModeUnavail)                                                               \
    X(13805, ETapiCallUnavail)                                                                     \
    X(13806, ETapiCompletionOverrun)                                                               \
    X(13807, ETapiConferenceFull)                                                                  \
    X(13808, ETapiDialBilling)                                                                     \
    X(13809, ETapiDialDialtone)                                                                    \
    X(13810, ETapiDialPrompt)                                                                      \
    X(13811, ETapiDialQuiet)                                                                       \
    X(13812, ETapiIncompatibleApiVersion)                                                          \
    X(13813, ETapiIncompatibleExtVersion)                                                          \
    X(13814, ETapiIniFileCorrupt)                                                                  \
    X(13815, ETapiInUse)                                                                           \
    X(13816, ETapiInvalAddress)                                                                    \
    X(13817, ETapiInvalAddressID)                                                                  \
    X(13818, ETapiInvalAddressMode)                                                                \
    X(13819, ETapiInvalAddressState)                                                               \
    X(13820, ETapiInvalAppHandle)                                                                  \
    X(13821, ETapiInvalAppName)                                                                    \
    X(13822, ETapiInvalBearerMode)                                                                 \
    X(13823, ETapiInvalCallComplMode)                                                              \
    X(13824, ETapiInvalCallHandle)                                                                 \
    X(13825, ETapiInvalCallParams)                                                                 \
    X(13826, ETapiInvalCallPrivilege)                                                              \
    X(13827, ETapiInvalCallSelect)                                                                 \
    X(13828, ETapiInvalCallState)                                                                  \
    X(13829, ETapiInvalCallStatelist)                                                              \
    X(13830, ETapiInvalCard)                                                                       \
    X(13831, ETapiInvalCompletionID)                                                               \
    X(13832, ETapiInvalConfCallHandle)                                                             \
    X(13833, ETapiInvalConsultCallHandle)                                                          \
    X(13834, ETapiInvalCountryCode)                                                                \
    X(13835, ETapiInvalDeviceClass)                                                                \
    X(13836, ETapiInvalDeviceHandle)                                                               \
    X(13837, ETapiInvalDialParams)                                                                 \
    X(13838, ETapiInvalDigitList)                                                                  \
    X(13839, ETapiInvalDigitMode)                                                                  \
    X(13840, ETapiInvalDigits)                                                                     \
    X(13841, ETapiInvalExtVersion)                                                                 \
    X(13842, ETapiInvalGroupID)                                                                    \
    X(13843, ETapiInvalLineHandle)                                                                 \
    X(13844, ETapiInvalLineState)                                                                  \
    X(13845, ETapiInvalLocation)                                                                   \
    X(13846, ETapiInvalMediaList)                                                                  \
    X(13847, ETapiInvalMediaMode)                                                                  \
    X(13848, ETapiInvalMessageID)                                                                  \
    X(13850, ETapiInvalParam)                                                                      \
    X(13851, ETapiInvalParkID)                                                                     \
    X(13852, ETapiInvalParkMode)                                                                   \
    X(13853, ETapiInvalPointer)                                                                    \
    X(13854, ETapiInvalPrivSelect)                                                                 \
    X(13855, ETapiInvalRate)                                                                       \
    X(13856, ETapiInvalRequestMode)                                                                \
    X(13857, ETapiInvalTerminalID)                                                                 \
    X(13858, ETapiInvalTerminalMode)                                                               \
    X(13859, ETapiInvalTimeout)                                                                    \
    X(13860, ETapiInvalTone)                                                                       \
    X(13861, ETapiInvalToneList)                                                                   \
    X(13862, ETapiInvalToneMode)                                                                   \
    X(13863, ETapiInvalTransferMode)                                                               \
    X(13864, ETapiLineMapperFailed)                                                                \
    X(13865, ETapiNoConference)                                                                    \
    X(13866, ETapiNoDevice)                                                                        \
    X(13867, ETapiNoDriver)                                                                        \
    X(13868, ETapiNoMem)                                                                           \
    X(13869, ETapiNoRequest)                                                                       \
    X(13870, ETapiNotOwner)                                                                        \
    X(13871, ETapiNotRegistered)                                                                   \
    X(13872, ETapiOperationFailed)                                                                 \
    X(13873, ETapiOperationUnavail)                                                                \
    X(13874, ETapiRateUnavail)                                                                     \
    X(13875, ETapiResourceUnavail)                                                                 \
    X(13876, ETapiRequestOverrun)                                                                  \
    X(13877, ETapiStructureTooSmall)                                                               \
    X(13878, ETapiTargetNotFound)                                                                  \
    X(13879, ETapiTargetSelf)                                                                      \
    X(13880, ETapiUninitialized)                                                                   \
    X(13881, ETapiUserUserInfoTooBig)                                                              \
    X(13882, ETapiReinit)                                                                          \
    X(13883, ETapiAddressBlocked)                                                                  \
    X(13884, ETapiBillingRejected)                                                                 \
    X(13885, ETapiInvalFeature)                                                                    \
    X(13886, ETapiNoMultipleInstance)                                                              \
    X(13928, ETapiBusy)                                                                            \
    X(13929, ETapiNotSet)                                                                          \
    X(13930, ETapiNoSelect)                                                                        \
    X(13931, ETapiLoadFail)                                                                        \
    X(13932, ETapiGetAddrFail)                                                                     \
    X(13933, ETapi16Disabled)

#define APD_TAPI_CLASS(Magnitude, Name) APD_EXCEPTION_CLASS(Name, ETapi)
APD_TAPI_ERRORS(APD_TAPI_CLASS)
#undef APD_TAPI_CLASS

// Returns code unchanged when it is 0 or positive, or when the component is still being loaded
// (so property setters applied while loading never raise); a null component is not loading.
// Otherwise raises: the class the code maps to, with its message and ResultCode = code; for -8
// EOutOfMemory; for the other codes -2 to -162 EInOutError with ErrorCode = -code; for any other
// negative code EAPDException "Apro exception".
int RaiseOnError(const TApdBaseComponent *component, int code);

} // namespace serial
