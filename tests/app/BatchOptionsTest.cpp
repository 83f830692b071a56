// The batch mode's command line and its progress lines.

#include "app/BatchRun.h"
#include "app/LoaderApplication.h"

#include <gtest/gtest.h>
#include <sstream>
#include <string>
#include <vector>

namespace
{

using loader::BatchPolicy;

TEST(BatchOptionsTest, CommandLineOptions)
{
    struct Case {
        std::vector<const char *> args;
        bool batch;
        const char *script; // nullptr: none
        BatchPolicy answer;
        const char *error;        // "" when the line is good
        const char *toolkit = ""; // what the toolkit gets, joined by spaces
        const char *ports = "";   // the --port names, joined by spaces
    };
    constexpr BatchPolicy Abort = BatchPolicy::Abort;
    const Case cases[] = {
        {{"loader", "--batch"}, true, nullptr, BatchPolicy::Abort, ""},
        {{"loader", "--batch", "--script", "a.sld", "--answer", "IGNORE"},
         true,
         "a.sld",
         BatchPolicy::Ignore,
         ""},
        {{"loader", "--batch", "--script", "\xe9 -x.sld"}, true, "\xe9 -x.sld", Abort, ""},
        {{"loader", "--answer=abort", "--script=b c.sld", "--batch"},
         true,
         "b c.sld",
         BatchPolicy::Abort,
         ""},
        {{"loader", "-platform", "offscreen", "--batch"},
         true,
         nullptr,
         Abort,
         "",
         "-platform offscreen"},
        {{"loader", "-display", ":1", "--style=fusion", "-qwindowgeometry", "9x8", "-reverse"},
         false,
         nullptr,
         Abort,
         "",
         "-display :1 -style fusion -qwindowgeometry 9x8 -reverse"},
        {{"loader", "--batch", "--script"},
         false,
         nullptr,
         Abort,
         "Missing value after '--script'."},
        {{"loader", "--batch", "--script="},
         true,
         nullptr,
         BatchPolicy::Abort,
         "--script needs a file name"},
        {{"loader", "--batch", "--answer", "retry"},
         true,
         nullptr,
         BatchPolicy::Abort,
         "--answer takes abort or ignore"},
        {{"loader", "--script", "a.sld"},
         false,
         "a.sld",
         BatchPolicy::Abort,
         "--script and --answer belong to --batch"},
        {{"loader", "--scripts", "a.sld"}, false, nullptr, Abort, "Unknown option 'scripts'."},
        {{"loader", "--port", "com3", "--batch", "--port=/dev/ttyUSB0", "--port", "COM3"},
         true,
         nullptr,
         Abort,
         "",
         "",
         "com3 /dev/ttyUSB0 COM3"},
        {{"loader", "--port", "COM3"},
         false,
         nullptr,
         Abort,
         "--port belongs to --batch",
         "",
         "COM3"},
        {{"loader", "--batch", "--port=", "--port", "COM1"},
         true,
         nullptr,
         Abort,
         "--port needs a port name",
         "",
         " COM1"},
        {{"loader", "--batch", "--port"}, false, nullptr, Abort, "Missing value after '--port'."},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.args.back());
        const auto options =
            loader::ParseStartOptions(static_cast<int>(c.args.size()), c.args.data());
        EXPECT_EQ(options.batch, c.batch);
        EXPECT_EQ(options.script.value_or("<none>"), c.script ? c.script : "<none>");
        EXPECT_EQ(options.answer, c.answer);
        EXPECT_EQ(options.error, c.error);
        std::string toolkit;
        for (const std::string &arg : options.toolkitArgs)
            toolkit += (toolkit.empty() ? "" : " ") + arg;
        EXPECT_EQ(toolkit, c.toolkit);
        std::string ports;
        for (std::size_t i = 0; i < options.ports.size(); ++i)
            ports += (i ? " " : "") + options.ports[i];
        EXPECT_EQ(ports, c.ports);
    }
}

TEST(BatchOptionsTest, ProgressLinesFollowTheGaugesInTenths)
{
    std::ostringstream out;
    loader::TBatchProgress progress(out);
    for (int percent : {0, 4, 8, 12, 21, 29, 100})
        progress.ScriptProgress(percent);
    progress.UploadCaption("app.bin");
    for (int percent : {10, 19, 20, 98, 100})
        progress.UploadProgress(percent);
    progress.UploadCaption("Verifying Upload");
    progress.UploadProgress(50);
    progress.UploadProgress(70);
    progress.UploadProgress(90);
    progress.UploadCaption("Upload Progress");
    progress.UploadProgress(0);
    progress.UploadCaption("app.bin");
    progress.UploadProgress(100);

    EXPECT_EQ(out.str(), "Script progress: 4%\n"
                         "Script progress: 12%\n"
                         "Script progress: 21%\n"
                         "Script progress: 100%\n"
                         "Uploading app.bin\n"
                         "Upload progress: 10%\n"
                         "Upload progress: 20%\n"
                         "Upload progress: 98%\n"
                         "Upload progress: 100%\n"
                         "Verifying Upload\n"
                         "Verifying Upload: no answer yet, trying once more\n"
                         "Uploading app.bin\n"
                         "Upload progress: 100%\n");
}

} // namespace
