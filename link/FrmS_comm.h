#pragma once
// The "Communication Settings" dialog. It owns the program's link to the device (the link
// services and their serial port component, ApdComPort1), reads and writes the serial sections
// of loader.ini, opens the port at start-up and again after each save, and passes the link
// services on to the rest of the program under their own names.
//
// All of it runs on the GUI thread; the port delivers its trigger events there.

#include "link/LinkServices.h"
#include "link/LinkState.h"

#include "serial/ApdComPort.h"

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

    // Link services, passed on to Services.
    void SendDataByte(char c) { Services->SendDataByte(c); }
    void SendDataString(const std::string &text) { Services->SendDataString(text); }
    bool SendBlock(const void *buffer, uint32_t length)
    {
        return Services->SendBlock(buffer, length);
    }
    void SendBuffer(const void *buffer, int32_t length) { Services->SendBuffer(buffer, length); }
    void SendInitCmd(const std::string &command, std::string &reply)
    {
        Services->SendInitCmd(command, reply);
    }
    void DataTriggerEnabled(bool on) { Services->DataTriggerEnabled(on); }
    void SetUploadMode(bool on) { Services->SetUploadMode(on); }
    bool SCommOpen() const { return Services->SCommOpen(); }
    void FlushAll() { Services->FlushAll(); }
    void FlushInput() { Services->FlushInput(); }
    bool GetBuffer(void *buffer, uint16_t length) { return Services->GetBuffer(buffer, length); }
    char PreviewChar(uint16_t index) { return Services->PreviewChar(index); }
    void BeginFileWatch() { Services->BeginFileWatch(); }
    void EndFileWatch() { Services->EndFileWatch(); }
    bool FileUploadFailed() { return Services->FileUploadFailed(); }
    void AbandonUpload() { Services->AbandonUpload(); }

    // Replaces the object told about port state, errors and upload progress (null: nobody).
    void SetCallbacks(TLoaderCallbacks *callbacks) { Services->SetCallbacks(callbacks); }

    // The link itself; the two names below are views of its state and its port.
    const std::unique_ptr<TLinkServices> Services;
    LinkState &Link;
    std::unique_ptr<serial::TApdComPort> &ApdComPort1;

    std::string IniFileName;
    // The "Direct to COM"+n entries of the ports found at creation, in rising order.
    std::vector<std::string> ComPortList;

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
    void BuildControls();
    void BuildPortList();
    void SelectPortEntry(uint16_t comNumber);
    void BtnOKClick();
};

// The program's one settings dialog, set by whoever creates it.
extern TFrmS_comm *FrmS_comm;

} // namespace loader
