#pragma once
// What the link side reports to the main window. The main window implements this interface, so
// the settings dialog and the link services never depend on the window class itself.

namespace loader
{

class TLoaderCallbacks
{
  public:
    virtual ~TLoaderCallbacks() = default;

    // After every attempt to open the port: true when it opened and its triggers are armed.
    virtual void SetComBtnState(bool enabled) = 0;
    // The device reported its error text outside a buffer upload during a run.
    virtual void SetScriptError() = 0;
    // The device reported its error text during a buffer upload; sent once the output drained.
    virtual void SetULError() = 0;
    // Lets the upload engine take its next step (the main window's ScriptTimer).
    virtual void EnableScriptTimer() = 0;
    // Moves the upload gauge (GgeUpload), 0 to 100. During a buffer upload the link's block pump
    // calls it on the port's dispatch thread, after each block it queued: an implementation hands
    // the figure to its own thread and touches no widget there.
    virtual void SetUploadProgress(int percent) = 0;

  protected:
    TLoaderCallbacks() = default;
    TLoaderCallbacks(const TLoaderCallbacks &) = default;
    TLoaderCallbacks &operator=(const TLoaderCallbacks &) = default;
};

} // namespace loader
