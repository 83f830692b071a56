#pragma once
// The progress a batch run prints in place of the window's gauges and captions.

#include "app/UploadCaptions.h"

#include <ostream>
#include <string>

namespace loader
{

// Prints the gauges and captions of the window as lines: each gauge when it reaches a further
// tenth (and 100), each file name as its upload begins, and the verification with its second try.
class TBatchProgress
{
  public:
    explicit TBatchProgress(std::ostream &out) : out_(out) {}

    void ScriptProgress(int percent);
    void UploadProgress(int percent);
    void UploadCaption(const std::string &caption);

  private:
    // Prints "label: n%" when n is in a tenth not printed yet since the gauge last stood at 0.
    void Gauge(const char *label, int percent, int &lastTenth);

    std::ostream &out_;
    int scriptTenth_ = -1;
    int uploadTenth_ = -1;
    bool verifying_ = false;
};

} // namespace loader
