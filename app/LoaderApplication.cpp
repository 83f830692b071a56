#include "app/LoaderApplication.h"

#include "app/FrmLoadr.h"
#include "platform/Help.h"
#include "platform/MessageBox.h"
#include "serial/PosixDevice.h"

#include <QApplication>
#include <QTimer>
#include <cstdio>
#include <cstring>

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

} // namespace

StartOptions ParseStartOptions(int argc, const char *const *argv)
{
    StartOptions options;
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--smoke") == 0)
            options.smoke = true;
    return options;
}

void InitialiseApplication(QApplication &application)
{
    // The title goes into the application name: as a display name the toolkit would append it to
    // every window title.
    application.setApplicationName(QString::fromLatin1(ApplicationTitle));
    platform::SetHelpFile(ApplicationHelpFile);
}

void CreateStartupWindows(TFrmLoadr &mainWindow)
{
    // The serial device layer finds its "Devices" section in the same loader.ini: the start
    // folder's, even after the main window has moved the working directory.
    serial::SetDeviceIniFile(mainWindow.IniFileName);
    // The communication settings object, the about box and the support box are created here,
    // in that order, once they exist.
}

int RunLoader(int argc, char **argv)
{
    const StartOptions options = ParseStartOptions(argc, argv);
    if (options.smoke && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");

    QApplication application(argc, argv);
    InitialiseApplication(application);
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
