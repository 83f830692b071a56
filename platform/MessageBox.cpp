#include "platform/MessageBox.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <cstdio>
#include <utility>
#include <vector>

namespace platform
{
namespace
{

MessageResponder &Responder()
{
    static MessageResponder responder;
    return responder;
}

std::vector<MsgResult> ButtonsOf(MsgButtons buttons)
{
    switch (buttons) {
    case MsgButtons::Ok:
        return {MsgResult::Ok};
    case MsgButtons::OkCancel:
        return {MsgResult::Ok, MsgResult::Cancel};
    case MsgButtons::AbortIgnore:
        return {MsgResult::Abort, MsgResult::Ignore};
    case MsgButtons::YesNo:
        return {MsgResult::Yes, MsgResult::No};
    case MsgButtons::AbortRetryIgnore:
        return {MsgResult::Abort, MsgResult::Retry, MsgResult::Ignore};
    case MsgButtons::YesNoCancel:
        return {MsgResult::Yes, MsgResult::No, MsgResult::Cancel};
    }
    return {MsgResult::Ok};
}

QMessageBox::Icon IconOf(MsgType type)
{
    switch (type) {
    case MsgType::Error:
        return QMessageBox::Critical;
    case MsgType::Warning:
        return QMessageBox::Warning;
    case MsgType::Information:
        return QMessageBox::Information;
    case MsgType::Confirm:
        return QMessageBox::Question;
    }
    return QMessageBox::NoIcon;
}

QString Display(const std::string &text)
{
    QString shown = QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return shown;
}

// The answer of a box closed by Escape or the frame, as a Windows box gives.
MsgResult CancellingAnswer(const MessageRequest &request, const std::vector<MsgResult> &buttons)
{
    if (request.buttons == MsgButtons::Ok)
        return MsgResult::Ok;
    if (request.buttons == MsgButtons::AbortIgnore ||
        request.buttons == MsgButtons::AbortRetryIgnore)
        return MsgResult::Abort;
    return buttons.back();
}

MsgResult ShowReal(const MessageRequest &request)
{
    // A run without a window that reaches a box nobody answers for: the box cannot be shown, so
    // its text goes to standard error and it is closed at once.
    if (!qobject_cast<QApplication *>(QCoreApplication::instance())) {
        std::fprintf(stderr, "%s: %s\n", request.caption.c_str(), request.text.c_str());
        return CancellingAnswer(request, ButtonsOf(request.buttons));
    }
    QMessageBox box(IconOf(request.type), QString::fromLatin1(request.caption.c_str()),
                    Display(request.text), QMessageBox::NoButton, QApplication::activeWindow());
    const auto buttons = ButtonsOf(request.buttons);
    std::vector<std::pair<QAbstractButton *, MsgResult>> map;
    for (MsgResult b : buttons) {
        const bool rejects = b == MsgResult::Cancel || b == MsgResult::No ||
                             (buttons.size() == 1 && b == MsgResult::Ok);
        auto *pushed = box.addButton(QString::fromLatin1(ButtonText(b).c_str()),
                                     rejects ? QMessageBox::RejectRole : QMessageBox::AcceptRole);
        map.emplace_back(pushed, b);
    }
    box.setDefaultButton(static_cast<QPushButton *>(map.front().first));
    // A file name or an address in a box can be copied from it.
    box.setTextInteractionFlags(Qt::TextSelectableByMouse);
    box.exec();
    for (const auto &[button, result] : map)
        if (box.clickedButton() == button)
            return result;
    return CancellingAnswer(request, buttons);
}

} // namespace

std::string CaptionOf(MsgType type)
{
    switch (type) {
    case MsgType::Error:
        return "Error";
    case MsgType::Warning:
        return "Warning";
    case MsgType::Information:
        return "Information";
    case MsgType::Confirm:
        return "Confirm";
    }
    return "";
}

std::string ButtonText(MsgResult button)
{
    switch (button) {
    case MsgResult::Ok:
        return "OK";
    case MsgResult::Cancel:
        return "Cancel";
    case MsgResult::Abort:
        return "&Abort";
    case MsgResult::Retry:
        return "&Retry";
    case MsgResult::Ignore:
        return "&Ignore";
    case MsgResult::Yes:
        return "&Yes";
    case MsgResult::No:
        return "&No";
    }
    return "";
}

MsgResult ShowMessage(MsgType type, const std::string &text, MsgButtons buttons)
{
    MessageRequest request{type, CaptionOf(type), text, buttons};
    if (auto &responder = Responder())
        return responder(request);
    return ShowReal(request);
}

void ShowException(const std::exception &e)
{
    ShowMessage(MsgType::Error, e.what(), MsgButtons::Ok);
}

void ShowingFailures(const std::function<void()> &action)
{
    try {
        action();
    } catch (const std::exception &e) {
        ShowException(e);
    }
}

MessageResponder SetMessageResponder(MessageResponder responder)
{
    return std::exchange(Responder(), std::move(responder));
}

} // namespace platform
