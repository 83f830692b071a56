#pragma once
// The "Communication Settings" dialog. It owns the program's one serial port component,
// ApdComPort1, reads and writes the serial sections of loader.ini, opens the port at start-up
// and again after each save, and offers the link services through which the loader talks to
// the device: sending, the command handshake and the paced upload of a file buffer.
//
// All of it runs on the GUI thread; the port delivers its trigger events there.

#include "link/LinkState.h"

#include "serial/ApdComPort.h"
#include "serial/EventHook.h"

#include <QDialog>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class QComboBox;
class QLabel;
class QPushButton;

namespace platform
{
class TIniFile;
}

namespace loader
{

class TLoaderCallbacks;
class TRadioGroup;

// The value the line-error trigger is armed with: none of the ordinary line errors (overrun,
// parity, framing, break), so it fires only for a line that failed for good, which the port
// reports to every line-error trigger whatever its mask. Firing it takes the pending errors
// (the port reads them for the event), and ordinary ones belong to whoever watches them: the
// status lights would never see one.
constexpr uint16_t LineFailureOnly = 0;

class TFrmS_comm : public QDialog
{
    Q_OBJECT

  public:
    // Applied to the port after its stored settings and before FormCreate opens it; lets a
    // caller choose another device layer (tests install a simulated one this way).
    using TPortSetup = std::function<void(serial::TApdComPort &port)>;

    // Builds the dialog and runs FormCreate: the port list, loader.ini, the port's settings and
    // the first open. The callbacks (the main window) must outlive this object; null skips them.
    TFrmS_comm(std::string iniFileName, TLoaderCallbacks *callbacks, QWidget *parent = nullptr,
               TPortSetup portSetup = {});
    ~TFrmS_comm() override;
    TFrmS_comm(const TFrmS_comm &) = delete;
    TFrmS_comm &operator=(const TFrmS_comm &) = delete;

    // Settings side.
    void FormCreate();
    void FormShow();
    void LoadRs232Ini();
    void SaveRs232Ini();

    // Link services.
    void SendDataByte(char c);
    void SendDataString(const std::string &text);
    bool SendBlock(const void *buffer, uint32_t length);
    void SendBuffer(const void *buffer, int32_t length);
    void SendInitCmd(const std::string &command, std::string &reply);
    void DataTriggerEnabled(bool on);
    void SetUploadMode(bool on);
    bool SCommOpen() const;
    void FlushAll();
    void FlushInput();
    bool GetBuffer(void *buffer, uint16_t length);
    char PreviewChar(uint16_t index);

    // The watch over one file (see LinkState): begun when its header is sent, ended after its
    // verification or with the run. FileUploadFailed tells whether the device reported the
    // upload error text, or the line failed, since the header.
    void BeginFileWatch();
    void EndFileWatch();
    bool FileUploadFailed();
    // Gives up a buffer upload at once, without waiting for its output to drain: the queued
    // output is discarded and the buffer is never touched again.
    void AbandonUpload();

    // Port event handlers.
    void ApdComPort1WaitChar(serial::TApdCustomComPort &CP, char C);
    void ApdComPort1TriggerData(serial::TApdCustomComPort &CP, uint16_t TriggerHandle);
    void ApdComPort1TriggerOutbuffFree(serial::TApdCustomComPort &Sender);
    void ApdComPort1TriggerOutbuffUsed(serial::TApdCustomComPort &Sender);
    void ApdComPort1TriggerLineError(serial::TApdCustomComPort &CP, uint16_t Error, bool LineBreak);

    // Replaces the object told about port state, errors and upload progress (null: nobody).
    void SetCallbacks(TLoaderCallbacks *callbacks) { callbacks_ = callbacks; }

    std::string IniFileName;
    LinkState Link;
    // The "Direct to COM"+n entries of the ports found at creation, in rising order.
    std::vector<std::string> ComPortList;

    std::unique_ptr<serial::TApdComPort> ApdComPort1;

    QLabel *LblComPort;
    QComboBox *CmbBxComPort;
    TRadioGroup *RdGrpBaudRate;
    TRadioGroup *RdGrpData;
    TRadioGroup *RdGrpParity;
    TRadioGroup *RdGrpStop;
    QPushButton *BtnOK;
    QPushButton *BtnCancel;

  protected:
    void showEvent(QShowEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

  private:
    // Looks for the upload error text in a reply read under the file watch.
    void WatchReply(const std::string &received);
    void BuildControls();
    void ApplyStoredPortSettings();
    void BuildPortList();
    void SelectPortEntry(uint16_t comNumber);
    // Opens the port and arms the prompt, error, output-free, output-used and line-error
    // triggers.
    void OpenAndArm();
    // Drops a trigger this object armed, and forgets its handle.
    void DropOwnTrigger(uint16_t &handle);
    void AddDataTriggers();
    void BtnOKClick();
    void ReportUploadProgress();
    // Ends the buffer upload's phase and disarms its two output triggers.
    void StopUpload();
    // The line failed for good: ends what is under way with the upload error, once.
    void LineFailure();

    TLoaderCallbacks *callbacks_;
    // The link services' handlers on the port's events, installed once at creation.
    serial::TEventHook<serial::TTriggerDataEvent> dataHook_;
    serial::TEventHook<serial::TNotifyEvent> outFreeHook_;
    serial::TEventHook<serial::TNotifyEvent> outUsedHook_;
    serial::TEventHook<serial::TTriggerLineErrorEvent> lineErrorHook_;
    serial::TEventHook<serial::TWaitCharEvent> waitCharHook_;
};

// The program's one settings dialog, set by whoever creates it.
extern TFrmS_comm *FrmS_comm;

} // namespace loader
