#pragma once
// Shows the hourglass for as long as the guard lives, also when the guarded code throws. A run
// without a window (no GUI application object) has no cursor to change.

#include <QCursor>
#include <QGuiApplication>

namespace loader
{

class TWaitCursor
{
  public:
    TWaitCursor() : shown_(qobject_cast<QGuiApplication *>(QCoreApplication::instance()) != nullptr)
    {
        if (shown_)
            QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    }
    ~TWaitCursor()
    {
        if (shown_)
            QGuiApplication::restoreOverrideCursor();
    }
    TWaitCursor(const TWaitCursor &) = delete;
    TWaitCursor &operator=(const TWaitCursor &) = delete;

  private:
    bool shown_;
};

} // namespace loader
