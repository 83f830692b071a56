#include "app/LoaderApplication.h"

#include "app/BatchRun.h"
#include "app/BuildInfo.h"
#include "app/FrmLoadr.h"
#include "app/GangPorts.h"
#include "app/GangRun.h"
#include "app/LoaderSettings.h"
#include "app/PortListing.h"
#include "app/PortRun.h"
#include "app/SignalPipe.h"
#include "app/UploadEngine.h"
#include "dialogs/FrmAboutLdr.h"
#include "dialogs/FrmSupportBox.h"
#include "lights/ApdSLController.h"
#include "link/FrmS_comm.h"
#include "link/LinkServices.h"
#include "link/LinkSettings.h"
#include "platform/Help.h"
#include "platform/MessageBox.h"
#include "platform/RuntimeFolder.h"
#include "serial/ApdComPort.h"
#include "serial/PosixDevice.h"

#include <QApplication>
#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QStringList>
#include <QTimer>
#include <algorithm>
#include <clocale>
#include <csignal>
#include <cstdio>
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

// The toolkit's generic options, handed on to the application object untouched.
struct ToolkitOption {
    const char *name;
    bool takesValue;
};
constexpr ToolkitOption ToolkitOptions[] = {
    {"platform", true},      {"platformpluginpath", true},
    {"platformtheme", true}, {"plugin", true},
    {"display", true},       {"style", true},
    {"stylesheet", true},    {"qwindowgeometry", true},
    {"geometry", true},      {"qwindowtitle", true},
    {"title", true},         {"qwindowicon", true},
    {"session", true},       {"reverse", false},
    {"widgetcount", false},  {"nograb", false},
    {"dograb", false},       {"sync", false},
};

// Platforms that draw without a display server.
constexpr std::string_view DisplaylessPlatforms[] = {"offscreen", "minimal", "minimalegl",  "eglfs",
                                                     "linuxfb",   "vnc",     "vkkhrdisplay"};

QCommandLineOption Hidden(QCommandLineOption option)
{
    option.setFlags(QCommandLineOption::HiddenFromHelp);
    return option;
}

} // namespace

StartOptions ParseStartOptions(int argc, const char *const *argv)
{
    // Latin-1 both ways keeps every byte: a file name need not be valid in any encoding.
    const auto bytes = [](const QString &text) { return text.toLatin1().toStdString(); };
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLatin1(argv[i]);
    if (arguments.isEmpty())
        arguments << QStringLiteral("loader");

    QCommandLineParser parser;
    // "-platform" is one word, as every Qt program takes it, not the letters p, l, a, ...
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    const QCommandLineOption batch(QStringLiteral("batch"));
    const QCommandLineOption script(QStringLiteral("script"), QString(), QStringLiteral("FILE"));
    const QCommandLineOption answer(QStringLiteral("answer"), QString(), QStringLiteral("POLICY"));
    const QCommandLineOption port(QStringLiteral("port"), QString(), QStringLiteral("NAME"));
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    const QCommandLineOption version(QStringList{QStringLiteral("v"), QStringLiteral("version")});
    const QCommandLineOption listPorts(QStringLiteral("list-ports"));
    const QCommandLineOption smoke = Hidden(QCommandLineOption(QStringLiteral("smoke")));
    parser.addOptions({batch, script, answer, port, help, version, listPorts, smoke});
    for (const ToolkitOption &toolkit : ToolkitOptions)
        parser.addOption(Hidden(toolkit.takesValue
                                    ? QCommandLineOption(QString::fromLatin1(toolkit.name),
                                                         QString(), QStringLiteral("VALUE"))
                                    : QCommandLineOption(QString::fromLatin1(toolkit.name))));

    StartOptions options;
    if (!parser.parse(arguments)) {
        options.error = bytes(parser.errorText());
        return options;
    }
    if (!parser.positionalArguments().isEmpty()) {
        options.error = "unexpected argument '" + bytes(parser.positionalArguments().front()) + "'";
        return options;
    }

    options.smoke = parser.isSet(smoke);
    options.batch = parser.isSet(batch);
    options.help = parser.isSet(help);
    options.version = parser.isSet(version);
    options.listPorts = parser.isSet(listPorts);
    for (const ToolkitOption &toolkit : ToolkitOptions) {
        const QString name = QString::fromLatin1(toolkit.name);
        if (!parser.isSet(name))
            continue;
        if (!toolkit.takesValue) {
            options.toolkitArgs.push_back(std::string("-") + toolkit.name);
            continue;
        }
        for (const QString &value : parser.values(name)) {
            options.toolkitArgs.push_back(std::string("-") + toolkit.name);
            options.toolkitArgs.push_back(bytes(value));
        }
    }
    if (parser.isSet(QStringLiteral("platform")))
        options.platform = bytes(parser.value(QStringLiteral("platform")));

    if (parser.isSet(script)) {
        const std::string name = bytes(parser.value(script));
        if (name.empty())
            options.error = "--script needs a file name";
        else
            options.script = name;
    }
    if (parser.isSet(answer)) {
        if (const auto policy = ParseBatchPolicy(bytes(parser.value(answer))))
            options.answer = *policy;
        else
            options.error = "--answer takes abort or ignore";
    }
    for (const QString &name : parser.values(port)) {
        if (name.isEmpty() && options.error.empty())
            options.error = "--port needs a port name";
        options.ports.push_back(bytes(name));
    }
    if (options.error.empty() && (parser.isSet(script) || parser.isSet(answer)) && !options.batch)
        options.error = "--script and --answer belong to --batch";
    if (options.error.empty() && parser.isSet(port) && !options.batch)
        options.error = "--port belongs to --batch";
    if (options.error.empty() && options.listPorts && (options.batch || options.smoke))
        options.error = "--list-ports runs on its own";
    return options;
}

std::string UsageText()
{
    return "Usage: loader [--batch [--port NAME]... [--script FILE] [--answer abort|ignore]]\n"
           "       loader --list-ports | --help | --version\n"
           "\n"
           "Without options the loader shows its window.\n"
           "  --batch                one upload run without a window, as \"Start File Upload\"\n"
           "                         in automatic mode; boxes go to standard error\n"
           "  --port NAME            run on NAME instead of the \"Comm Port\" of loader.ini: COMn\n"
           "                         (from section [Devices]) or a device path; given more than\n"
           "                         once, on all of them at once, each with its own log\n"
           "                         loader-NAME.log, and a summary line per port at the end\n"
           "  --script FILE          run FILE instead of the \"Default Script\" of loader.ini\n"
           "  --answer abort|ignore  the answer to boxes with Abort and Ignore (default abort)\n"
           "  --list-ports           list the serial ports: name, device, stable name (from\n"
           "                         /dev/serial/by-id) and whether each opens now\n"
           "  -h, --help             show this text\n"
           "  -v, --version          show the version\n"
           "Qt's own options (-platform NAME, -display NAME, -style NAME, -qwindowgeometry G,\n"
           "...) are passed on to the toolkit.\n"
           "Exit status: 0 run ended without an error box (on every port), 1 an error box was\n"
           "shown (on any port) or a port did not open in a run on several, 2 the run could not\n"
           "start or the command line is wrong, 128 + N when signal N (SIGTERM, SIGHUP) ended\n"
           "it.\n";
}

std::string VersionText()
{
    return std::string(ApplicationTitle) + "\nVersion " + LOADER_VERSION + " (revision " +
           LOADER_REVISION + ")\n";
}

bool PlatformNeedsDisplay(std::string_view platforms)
{
    // The toolkit tries the names in turn: one that needs no display is enough.
    while (!platforms.empty()) {
        const std::size_t end = std::min(platforms.find(';'), platforms.size());
        const std::string_view entry = platforms.substr(0, end);
        const std::string_view name = entry.substr(0, std::min(entry.find(':'), entry.size()));
        for (std::string_view displayless : DisplaylessPlatforms)
            if (name == displayless)
                return false;
        platforms.remove_prefix(std::min(end + 1, platforms.size()));
    }
    return true;
}

namespace
{

// The main window creates a missing loader.ini in the start folder: an operator who started the
// run in the wrong folder learns it before the run rather than from a stray file afterwards.
void NoteMissingIniFile(std::ostream &out)
{
    std::error_code error;
    const std::filesystem::path folder = std::filesystem::current_path(error);
    if (error)
        return;
    if (std::filesystem::status(folder / "loader.ini", error).type() ==
        std::filesystem::file_type::not_found)
        out << "no loader.ini in " << folder.string() << ": using defaults and creating it\n"
            << std::flush;
}

int RunBatch(QCoreApplication &application, const StartOptions &options,
             const std::vector<GangPort> &ports)
{
    if (ports.size() > 1) {
        NoteMissingIniFile(std::cerr);
        return RunGang(application, ports,
                       options.script ? std::optional(NormalisedPath(*options.script))
                                      : std::nullopt,
                       options.answer);
    }
    TBatchRun run(std::cout, std::cerr, options.answer);
    run.AnswerBoxes();
    // A script named on the command line is taken from the directory the program was started
    // in, as a shell user expects, although the settings then move to "Default Path".
    std::optional<std::string> script;
    if (options.script)
        script = NormalisedPath(*options.script);
    NoteMissingIniFile(std::cerr);

    const LoaderSettings settings = ReadLoaderSettings();
    // Defaults in place of a configuration that cannot be read would run the default script on
    // the default port: its box has said why, and nothing is opened or started.
    if (!settings.iniRefusal.empty()) {
        std::cout << "Run not started: loader.ini cannot be read.\n" << std::flush;
        return BatchNotStarted;
    }
    TUploadEngine engine(nullptr);
    engine.ScriptFileName = settings.scriptFileName;
    engine.UploadDelayMs = settings.uploadDelayMs;
    // Caught before the port opens: a signal at any time from here closes it.
    const TSignalPipe signalPipe({SIGINT, SIGTERM, SIGHUP},
                                 [&](int signal) { run.Signalled(application, engine, signal); });
    StartSerialEngine(settings.iniFileName);
    TLinkServices link(&engine);
    OpenLink(link, settings.iniFileName,
             ports.empty() ? std::nullopt : std::optional<GangPort>(ports.front()));
    engine.SetLink(&link);
    return run.Run(application, engine, link, script);
}

// The window closes as by its close box, so the port is closed and its exclusive mark cleared;
// the exit status is the shell's for a killed program. A window already closed (by an earlier
// signal) only ends the program again.
void CloseOnSignal(QApplication &application, TFrmLoadr &mainWindow, int signal)
{
    if (mainWindow.isVisible()) {
        std::fprintf(stderr, "loader: %s received: closing the window and the port\n",
                     SignalName(signal).c_str());
        mainWindow.close();
    }
    application.exit(BatchEndedBySignal + signal);
}

} // namespace

void InitialiseApplication(QCoreApplication &application)
{
    // The title goes into the application name: as a display name the toolkit would append it to
    // every window title.
    application.setApplicationName(QString::fromLatin1(ApplicationTitle));
    platform::SetHelpFile(ApplicationHelpFile);
    // File dates and the log's time stamp follow the user's date and time formats.
    std::setlocale(LC_TIME, "");
}

void StartSerialEngine(const std::string &iniFileName)
{
    serial::InitializeComPorts();
    // The serial device layer finds its "Devices" section in the same loader.ini: the start
    // folder's, even after the working directory has moved.
    serial::SetDeviceIniFile(iniFileName);
}

void OpenLink(TLinkServices &link, const std::string &iniFileName,
              const std::optional<GangPort> &port)
{
    ReadLinkSettings(iniFileName, link.Link);
    OpenLinkOn(link, port ? &*port : nullptr);
}

void CreateStartupWindows(TFrmLoadr &mainWindow)
{
    StartSerialEngine(mainWindow.IniFileName);
    // Owned by the main window, which frees it before itself; it reports to the main window.
    FrmS_comm = new TFrmS_comm(mainWindow.IniFileName, &mainWindow, &mainWindow);
    mainWindow.ApdSLController2->SetComPort(FrmS_comm->ApdComPort1.get());
    // Hidden until asked for; freed with the main window.
    FrmAboutLdr = new TFrmAboutLdr(&mainWindow);
    FrmSupportBox = new TFrmSupportBox(&mainWindow);
}

int RunLoader(int argc, char **argv)
{
    SurviveFailedWrites();
    // Read before the application object exists: a bad command line must end the program before
    // loader.ini, loader.log or the port are touched.
    const StartOptions options = ParseStartOptions(argc, argv);
    if (!options.error.empty()) {
        std::fprintf(stderr, "loader: %s\n%s", options.error.c_str(), UsageText().c_str());
        return BatchNotStarted;
    }
    if (options.help) {
        std::fputs(UsageText().c_str(), stdout);
        return 0;
    }
    if (options.version) {
        std::fputs(VersionText().c_str(), stdout);
        return 0;
    }
    if (options.listPorts) {
        // The start folder's loader.ini names the COMn devices; it is read, never written.
        std::error_code error;
        const std::filesystem::path start = std::filesystem::current_path(error);
        StartSerialEngine(((error ? std::filesystem::path(".") : start) / "loader.ini").string());
        std::fputs(FormatPortList(ListPorts()).c_str(), stdout);
        return 0;
    }
    // Ports named on the command line are checked before anything is opened.
    GangPortList ports;
    if (!options.ports.empty()) {
        std::error_code error;
        const std::filesystem::path start = std::filesystem::current_path(error);
        ports = ResolveGangPorts(options.ports, error ? std::string(".") : start.string());
        if (!ports.error.empty()) {
            std::fprintf(stderr, "loader: %s\n%s", ports.error.c_str(), UsageText().c_str());
            return BatchNotStarted;
        }
    }
    if (options.smoke && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");

    // Without a display the toolkit would abort the program; say what is missing instead.
    const std::string platforms =
        options.platform.value_or(qEnvironmentVariable("QT_QPA_PLATFORM").toStdString());
    const bool displayNamed = std::find(options.toolkitArgs.begin(), options.toolkitArgs.end(),
                                        "-display") != options.toolkitArgs.end();
    if (!options.batch && PlatformNeedsDisplay(platforms) && !displayNamed &&
        qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
        if (options.batch)
            std::fprintf(stderr,
                         "loader: platform \"%s\" needs a display, but neither DISPLAY nor "
                         "WAYLAND_DISPLAY is set\n",
                         platforms.c_str());
        else
            std::fputs("loader: the window needs a display (neither DISPLAY nor WAYLAND_DISPLAY is "
                       "set); use --batch to upload without one\n",
                       stderr);
        return BatchNotStarted;
    }

    // The application object sees the program name and the toolkit's options only. Both lists
    // outlive it, as it keeps pointers into them.
    std::vector<std::string> toolkitArgs{argc > 0 ? argv[0] : "loader"};
    toolkitArgs.insert(toolkitArgs.end(), options.toolkitArgs.begin(), options.toolkitArgs.end());
    std::vector<char *> toolkitArgv;
    for (std::string &arg : toolkitArgs)
        toolkitArgv.push_back(arg.data());
    toolkitArgv.push_back(nullptr);
    int toolkitArgc = static_cast<int>(toolkitArgs.size());

    // Outlives the application object, which may keep files in it.
    const platform::TRuntimeFolder runtimeFolder;
    // A run without a window needs no display, no platform plug-in and no fonts: it starts in a
    // fraction of the time, which counts in every run of a production line's script.
    if (options.batch) {
        QCoreApplication application(toolkitArgc, toolkitArgv.data());
        InitialiseApplication(application);
        return RunBatch(application, options, ports.ports);
    }
    QApplication application(toolkitArgc, toolkitArgv.data());
    InitialiseApplication(application);
    if (options.smoke)
        platform::SetMessageResponder(AnswerUnattended);

    TFrmLoadr mainWindow;
    int endedBy = 0;
    const TSignalPipe signalPipe({SIGINT, SIGTERM, SIGHUP}, [&](int signal) {
        endedBy = endedBy ? endedBy : signal;
        CloseOnSignal(application, mainWindow, signal);
    });
    mainWindow.show();
    CreateStartupWindows(mainWindow);
    // A signal taken while a start-up box was shown has closed the window; the exit it asked for
    // ended only that box's loop, and the program would stay on without a window.
    if (endedBy)
        return BatchEndedBySignal + endedBy;

    if (options.smoke)
        QTimer::singleShot(SmokeRunMs, &mainWindow, &QWidget::close);
    const int exitCode = application.exec();
    if (options.smoke)
        std::printf("Smoke run: showed the main window offscreen for %.1f s, then closed it.\n",
                    SmokeRunMs / 1000.0);
    return exitCode;
}

} // namespace loader
