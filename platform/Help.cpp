#include "platform/Help.h"

#include "platform/HelpViewer.h"
#include "platform/MessageBox.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QUrl>
#include <utility>

#ifndef LOADER_SOURCE_DIR
#define LOADER_SOURCE_DIR ""
#endif

namespace platform
{
namespace
{

std::string &HelpFileName()
{
    static std::string name = "loader.hlp";
    return name;
}

HelpOpener &Opener()
{
    static HelpOpener opener;
    return opener;
}

std::string &FixedManualPath()
{
    static std::string path;
    return path;
}

HelpViewerChoice &ViewerChoice()
{
    static HelpViewerChoice choice = HelpViewerChoice::Builtin;
    return choice;
}

DesktopOpener &Desktop()
{
    static DesktopOpener opener;
    return opener;
}

void OpenManual(int command, int data)
{
    const std::string path = ManualPath();
    if (path.empty()) {
        ShowMessage(MsgType::Error,
                    "Help is not available: the manual loader.html was not found.\r"
                    "It belongs next to the program or in its share/loader folder.",
                    MsgButtons::Ok);
        return;
    }
    QUrl url = QUrl::fromLocalFile(QString::fromLocal8Bit(path.c_str()));
    if (command != HelpFinder && data != 0)
        url.setFragment(QStringLiteral("context-%1").arg(data));
    if (ViewerChoice() == HelpViewerChoice::Browser &&
        OpenInDesktop(url.toString(QUrl::FullyEncoded).toStdString()))
        return;
    THelpViewer::Instance()->ShowPage(url);
}

} // namespace

void SetHelpFile(const std::string &helpFile)
{
    HelpFileName() = helpFile;
}
const std::string &HelpFile()
{
    return HelpFileName();
}

std::string ManualPath()
{
    if (!FixedManualPath().empty())
        return QFileInfo(QString::fromLocal8Bit(FixedManualPath().c_str())).isFile()
                   ? FixedManualPath()
                   : std::string();
    return ManualPathFor(QCoreApplication::applicationDirPath().toStdString(), LOADER_SOURCE_DIR);
}

std::string ManualPathFor(const std::string &programDir, const std::string &sourceDir)
{
    const QString appDir = QString::fromStdString(programDir);
    QStringList candidates = {
        appDir + QStringLiteral("/loader.html"),
        // Where the Debian package puts it (/usr/bin/loader, /usr/share/tavrin-loader/).
        appDir + QStringLiteral("/../share/tavrin-loader/loader.html"),
        appDir + QStringLiteral("/../share/loader/loader.html"),
    };
    if (!sourceDir.empty())
        candidates.append(QString::fromStdString(sourceDir) + QStringLiteral("/docs/loader.html"));
    for (const QString &c : candidates)
        if (QFileInfo(c).isFile())
            return QDir::cleanPath(QFileInfo(c).absoluteFilePath()).toStdString();
    return {};
}

void OpenHelp(int command, int data)
{
    if (auto &opener = Opener())
        opener(HelpFileName(), command, data);
    else
        OpenManual(command, data);
}

HelpOpener SetHelpOpener(HelpOpener opener)
{
    return std::exchange(Opener(), std::move(opener));
}

std::string SetManualPath(std::string path)
{
    return std::exchange(FixedManualPath(), std::move(path));
}

HelpViewerChoice HelpViewerChoiceOf(const std::string &value)
{
    return QString::fromLatin1(value.c_str())
                       .trimmed()
                       .compare(QStringLiteral("Browser"), Qt::CaseInsensitive) == 0
               ? HelpViewerChoice::Browser
               : HelpViewerChoice::Builtin;
}

void SetHelpViewerChoice(HelpViewerChoice choice)
{
    ViewerChoice() = choice;
}

HelpViewerChoice CurrentHelpViewerChoice()
{
    return ViewerChoice();
}

bool OpenInDesktop(const std::string &url)
{
    if (auto &opener = Desktop())
        return opener(url);
    return QDesktopServices::openUrl(QUrl::fromEncoded(QByteArray::fromStdString(url)));
}

DesktopOpener SetDesktopOpener(DesktopOpener opener)
{
    return std::exchange(Desktop(), std::move(opener));
}

} // namespace platform
