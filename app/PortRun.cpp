#include "app/PortRun.h"

#include "app/BatchRun.h"
#include "app/GangReport.h"
#include "serial/ApdComPort.h"

#include <utility>

namespace loader
{

void OpenLinkOn(TLinkServices &link, const GangPort *port)
{
    if (port) {
        if (port->comNumber != 0)
            link.Link.CfgComNumber = port->comNumber;
        link.Link.CfgDeviceName = port->comNumber != 0 ? std::string() : port->device;
    }
    link.Link.StopTransfer = false;
    link.ApplySettings();
    link.OpenAndArm();
}

TPortRun::TPortRun(GangPort port, const LoaderSettings &settings, const LinkState &link,
                   TMessageSink boxes)
    : port_(std::move(port)), boxes_(std::move(boxes)),
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
    link_->Link = link;
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
        reason_ = ReasonOf(text);
    }
    return ShowThrough(boxes_, type, text, buttons);
}

bool TPortRun::Open()
{
    OpenLinkOn(*link_, &port_);
    if (link_->SCommOpen())
        return true;
    const serial::TApdComPort &port = *link_->ApdComPort1;
    openFailure_ = PortOpenFailureLine(port.ComNumber(), port.DeviceName(), port.LastOpenError());
    failed_ = true;
    reason_ = reason_.empty() ? openFailure_ : reason_ + " " + openFailure_;
    return false;
}

bool TPortRun::Start()
{
    engine_->StartRun(engine_->ScriptFileName, port_.logName);
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
