#include "platform/Help.h"

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

void OpenInBrowser(const std::string &, int command, int data)
{
    const std::string path = ManualPath();
    if (path.empty())
        return;
    QUrl url = QUrl::fromLocalFile(QString::fromLocal8Bit(path.c_str()));
    if (command != HelpFinder && data != 0)
        url.setFragment(QStringLiteral("context-%1").arg(data));
    QDesktopServices::openUrl(url);
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
        OpenInBrowser(HelpFileName(), command, data);
}

HelpOpener SetHelpOpener(HelpOpener opener)
{
    return std::exchange(Opener(), std::move(opener));
}

} // namespace platform
