#pragma once
// The upload gauge's caption between uploads, and while the device is asked whether it took the
// file; any other caption is the name of the file on its way.

namespace loader
{

constexpr const char *IdleCaption = "Upload Progress";
constexpr const char *VerifyingCaption = "Verifying Upload";

} // namespace loader
