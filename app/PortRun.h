#pragma once
// One port's part in a gang: its own link and upload engine with the settings of loader.ini and
// the same script as every other port, its own log, and its boxes handed to its owner (which
// answers them without a screen) while the box that ended the run is kept as the reason.

#include "app/GangPorts.h"
#include "app/LoaderSettings.h"
#include "app/UploadEngine.h"
#include "link/LinkServices.h"

#include <cstdint>
#include <memory>
#include <string>

namespace loader
{

// Gives `link` (its settings already read) the device of `port`, or leaves its own "Comm Port"
// when there is none, and opens it. A COM name opens by its number, so the reports name the
// device as loader.ini does.
void OpenLinkOn(TLinkServices &link, const GangPort *port);

class TPortRun
{
  public:
    // `link` holds the link's settings as loader.ini gives them, read once for every port;
    // `boxes` answers every box of this port; the run keeps the text of its last error box.
    TPortRun(GangPort port, const LoaderSettings &settings, const LinkState &link,
             TMessageSink boxes);
    ~TPortRun();
    TPortRun(const TPortRun &) = delete;
    TPortRun &operator=(const TPortRun &) = delete;

    // Opens the port; false when it did not open, with the reason (the box and the device's own
    // reason, OpenFailure) kept.
    bool Open();
    // Starts the run with the engine's script; false when none started (a script that cannot be
    // read: its box is the reason).
    bool Start();
    // Cancels a running run at once: its transfer is abandoned, its output discarded.
    void Cancel();
    // The end: no further step, the log closed, upload mode off and the port closed.
    void Close();

    TUploadEngine &Engine() { return *engine_; }
    TLinkServices &Link() { return *link_; }
    bool Running() const { return engine_->Running(); }
    // Whether an error box was shown for this port (or its port did not open), and the text
    // that tells why on one line.
    bool Failed() const { return failed_; }
    const std::string &Reason() const { return reason_; }
    // The line after the box of a port that did not open: its device and the system's reason.
    const std::string &OpenFailure() const { return openFailure_; }

  private:
    platform::MsgResult Answer(platform::MsgType type, const std::string &text,
                               platform::MsgButtons buttons);

    GangPort port_;
    TMessageSink boxes_;
    std::unique_ptr<TUploadEngine> engine_;
    std::unique_ptr<TLinkServices> link_;
    bool failed_ = false;
    std::string reason_;
    std::string openFailure_;
};

} // namespace loader
