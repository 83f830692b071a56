#pragma once
// Shows the hourglass for as long as the guard lives, also when the guarded code throws.

#include <QCursor>
#include <QGuiApplication>

namespace loader
{

class TWaitCursor
{
  public:
    TWaitCursor() { QGuiApplication::setOverrideCursor(Qt::WaitCursor); }
    ~TWaitCursor() { QGuiApplication::restoreOverrideCursor(); }
    TWaitCursor(const TWaitCursor &) = delete;
    TWaitCursor &operator=(const TWaitCursor &) = delete;
};

} // namespace loader
