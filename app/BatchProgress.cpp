#include "app/BatchProgress.h"

namespace loader
{
namespace
{

constexpr int SecondTryPercent = 70;

constexpr int Tenth(int percent)
{
    return percent / 10;
}

} // namespace

void TBatchProgress::Gauge(const char *label, int percent, int &lastTenth)
{
    if (percent <= 0) {
        lastTenth = -1;
        return;
    }
    if (Tenth(percent) == lastTenth)
        return;
    lastTenth = Tenth(percent);
    out_ << label << ": " << percent << "%\n" << std::flush;
}

void TBatchProgress::ScriptProgress(int percent)
{
    Gauge("Script progress", percent, scriptTenth_);
}

// While verifying, the gauge marks the stages of the check rather than bytes: only the second
// try is worth a line.
void TBatchProgress::UploadProgress(int percent)
{
    if (!verifying_) {
        Gauge("Upload progress", percent, uploadTenth_);
        return;
    }
    if (percent == SecondTryPercent)
        out_ << "Verifying Upload: no answer yet, trying once more\n" << std::flush;
}

void TBatchProgress::UploadCaption(const std::string &caption)
{
    verifying_ = caption == VerifyingCaption;
    uploadTenth_ = -1;
    if (caption == IdleCaption)
        return;
    if (verifying_)
        out_ << caption << '\n' << std::flush;
    else
        out_ << "Uploading " << caption << '\n' << std::flush;
}

} // namespace loader
