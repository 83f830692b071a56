#include "app/LoaderApplication.h"

#include "app/BatchRun.h"
#include "app/FrmLoadr.h"
#include "link/FrmS_comm.h"
#include "platform/Help.h"
#include "platform/MessageBox.h"
#include "serial/ApdComPort.h"
#include "serial/PosixDevice.h"

#include <QApplication>
#include <QTimer>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <string_view>

namespace loader
{
namespace
{

// Nobody is there to answer a box in a smoke run: report it and take its first button.
platform::MsgResult AnswerUnattended(const platform::MessageRequest &request)
{
    std::string text = request.text;
    for (char &c : text)
        if (c == '\r')
            c = ' ';
    std::fprintf(stderr, "%s: %s\n", request.caption.c_str(), text.c_str());
    switch (request.buttons) {
    case platform::MsgButtons::AbortIgnore:
    case platform::MsgButtons::AbortRetryIgnore:
        return platform::MsgResult::Abort;
    case platform::MsgButtons::YesNo:
    case platform::MsgButtons::YesNoCancel:
        return platform::MsgResult::Yes;
    default:
        return platform::MsgResult::Ok;
    }
}

// "--name VALUE" or "--name=VALUE": the value, advancing i past it. Nothing when argv[i] is
// another option; an empty optional value with `missing` set when the value is absent.
std::optional<std::string> OptionValue(int argc, const char *const *argv, int &i,
                                       std::string_view name, bool &missing)
{
    const std::string_view arg = argv[i];
    if (arg == name) {
        if (i + 1 >= argc) {
            missing = true;
            return std::string();
        }
        return std::string(argv[++i]);
    }
    if (arg.size() > name.size() && arg.substr(0, name.size()) == name && arg[name.size()] == '=')
        return std::string(arg.substr(name.size() + 1));
    return std::nullopt;
}

} // namespace

StartOptions ParseStartOptions(int argc, const char *const *argv)
{
    StartOptions options;
    bool batchOnlyOption = false;
    for (int i = 1; i < argc; ++i) {
        bool missing = false;
        if (std::strcmp(argv[i], "--smoke") == 0) {
            options.smoke = true;
        } else if (std::strcmp(argv[i], "--batch") == 0) {
            options.batch = true;
        } else if (auto script = OptionValue(argc, argv, i, "--script", missing)) {
            batchOnlyOption = true;
            if (missing || script->empty())
                options.error = "--script needs a file name";
            else
                options.script = *script;
        } else if (auto answer = OptionValue(argc, argv, i, "--answer", missing)) {
            batchOnlyOption = true;
            if (const auto policy = ParseBatchPolicy(*answer))
                options.answer = *policy;
            else
                options.error = "--answer takes abort or ignore";
        }
    }
    if (options.error.empty() && batchOnlyOption && !options.batch)
        options.error = "--script and --answer belong to --batch";
    return options;
}

namespace
{

// A script named on the command line is taken from the directory the program was started in,
// as a shell user expects, although the main window then moves to "Default Path".
std::string FromStartDirectory(const std::string &path)
{
    std::error_code error;
    const auto absolute = std::filesystem::absolute(path, error);
    return error ? path : absolute.string();
}

int RunBatch(QApplication &application, const StartOptions &options)
{
    TBatchRun run(std::cout, std::cerr, options.answer);
    run.AnswerBoxes();
    std::optional<std::string> script;
    if (options.script)
        script = FromStartDirectory(*options.script);

    TFrmLoadr mainWindow;
    CreateStartupWindows(mainWindow);
    return run.Run(application, mainWindow, script);
}

} // namespace

void InitialiseApplication(QApplication &application)
{
    // The title goes into the application name: as a display name the toolkit would append it to
    // every window title.
    application.setApplicationName(QString::fromLatin1(ApplicationTitle));
    platform::SetHelpFile(ApplicationHelpFile);
}

void CreateStartupWindows(TFrmLoadr &mainWindow)
{
    serial::InitializeComPorts();
    // The serial device layer finds its "Devices" section in the same loader.ini: the start
    // folder's, even after the main window has moved the working directory.
    serial::SetDeviceIniFile(mainWindow.IniFileName);
    // Owned by the main window, which frees it before itself; it reports to the main window.
    FrmS_comm = new TFrmS_comm(mainWindow.IniFileName, &mainWindow, &mainWindow);
}

int RunLoader(int argc, char **argv)
{
    const StartOptions options = ParseStartOptions(argc, argv);
    if (!options.error.empty()) {
        std::fprintf(stderr, "loader: %s\n%s\n", options.error.c_str(), BatchUsage);
        return BatchNotStarted;
    }
    if ((options.smoke || options.batch) && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");

    QApplication application(argc, argv);
    InitialiseApplication(application);
    if (options.batch)
        return RunBatch(application, options);
    if (options.smoke)
        platform::SetMessageResponder(AnswerUnattended);

    TFrmLoadr mainWindow;
    mainWindow.show();
    CreateStartupWindows(mainWindow);

    if (options.smoke)
        QTimer::singleShot(SmokeRunMs, &mainWindow, &QWidget::close);
    const int exitCode = application.exec();
    if (options.smoke)
        std::printf("Smoke run: showed the main window offscreen for %.1f s, then closed it.\n",
                    SmokeRunMs / 1000.0);
    return exitCode;
}

} // namespace loader
