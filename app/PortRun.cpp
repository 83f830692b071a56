#include "app/PortRun.h"

#include "app/BatchRun.h"
#include "link/LinkSettings.h"
#include "serial/ApdComPort.h"

#include <utility>

namespace loader
{

std::string OneLine(const std::string &text)
{
    std::string line;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
            line += ' ';
        } else {
            line += c;
        }
    }
    return line;
}

TPortRun::TPortRun(PortRunSetup setup, const LoaderSettings &settings, TMessageSink boxes)
    : setup_(std::move(setup)), iniFileName_(settings.iniFileName), boxes_(std::move(boxes)),
      engine_(std::make_unique<TUploadEngine>(nullptr))
{
    const TMessageSink answer = [this](platform::MsgType type, const std::string &text,
                                       platform::MsgButtons buttons) {
        return Answer(type, text, buttons);
    };
    engine_->Boxes = answer;
    engine_->ScriptFileName = settings.scriptFileName;
    engine_->UploadDelayMs = settings.uploadDelayMs;
    link_ = std::make_unique<TLinkServices>(engine_.get());
    link_->Boxes = answer;
    engine_->SetLink(link_.get());
}

TPortRun::~TPortRun()
{
    Close();
    // The link reports to the engine: it goes first.
    link_.reset();
}

platform::MsgResult TPortRun::Answer(platform::MsgType type, const std::string &text,
                                     platform::MsgButtons buttons)
{
    if (type == platform::MsgType::Error) {
        failed_ = true;
        reason_ = OneLine(text);
    }
    return ShowThrough(boxes_, type, text, buttons);
}

bool TPortRun::Open()
{
    ReadLinkSettings(iniFileName_, link_->Link);
    link_->Link.CfgComNumber = setup_.comNumber != 0 ? setup_.comNumber : 1;
    link_->Link.CfgDeviceName = setup_.deviceName;
    link_->Link.StopTransfer = false;
    link_->ApplySettings();
    link_->OpenAndArm();
    if (link_->SCommOpen())
        return true;
    const serial::TApdComPort &port = *link_->ApdComPort1;
    const std::string line =
        PortOpenFailureLine(port.ComNumber(), port.DeviceName(), port.LastOpenError());
    failed_ = true;
    reason_ = reason_.empty() ? line : reason_ + " " + line;
    return false;
}

bool TPortRun::Start()
{
    engine_->StartRun(engine_->ScriptFileName, setup_.logFile);
    return engine_->Running();
}

void TPortRun::Cancel()
{
    if (!engine_->Running())
        return;
    engine_->CancelRun();
    engine_->AbandonTransfer();
}

void TPortRun::Close()
{
    engine_->Close();
    if (link_)
        link_->CloseLink();
}

} // namespace loader
