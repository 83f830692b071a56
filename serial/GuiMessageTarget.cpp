#include "serial/GuiMessageTarget.h"

#include "platform/MessageBox.h"

#include <QCoreApplication>
#include <QEvent>
#include <QThread>
#include <algorithm>
#include <exception>

namespace serial
{

namespace
{

QEvent::Type MessageEventType()
{
    static const auto type = static_cast<QEvent::Type>(QEvent::registerEventType());
    return type;
}

class TMessageEvent : public QEvent
{
  public:
    TMessageEvent(unsigned msg, uintptr_t wParam, intptr_t lParam,
                  std::shared_ptr<TSendTicket> ticket)
        : QEvent(MessageEventType()), Msg(msg), WParam(wParam), LParam(lParam),
          Ticket(std::move(ticket))
    {
    }

    unsigned Msg;
    uintptr_t WParam;
    intptr_t LParam;
    std::shared_ptr<TSendTicket> Ticket;
};

// Ends the sender's wait however the handler leaves.
class TFinishGuard
{
  public:
    explicit TFinishGuard(TSendTicket &ticket) : ticket_(ticket) {}
    ~TFinishGuard() { ticket_.Finish(); }
    TFinishGuard(const TFinishGuard &) = delete;
    TFinishGuard &operator=(const TFinishGuard &) = delete;

  private:
    TSendTicket &ticket_;
};

} // namespace

TGuiMessageTarget::TGuiMessageTarget(Handler handler, QObject *parent)
    : QObject(parent), handler_(std::move(handler))
{
}

TGuiMessageTarget::~TGuiMessageTarget()
{
    std::lock_guard guard(mutex_);
    for (const std::weak_ptr<TSendTicket> &weak : outstanding_)
        if (const std::shared_ptr<TSendTicket> ticket = weak.lock())
            ticket->Abandon();
}

void TGuiMessageTarget::HandleMessage(unsigned msg, uintptr_t wParam, intptr_t lParam)
{
    if (handler_)
        handler_(msg, wParam, lParam);
}

std::shared_ptr<TSendTicket> TGuiMessageTarget::PostMessage(unsigned msg, uintptr_t wParam,
                                                            intptr_t lParam)
{
    auto ticket = std::make_shared<TSendTicket>();
    TMessageEvent *event = nullptr;
    {
        // Made under the lock that event() takes, so the hand-over through Qt's queue is
        // ordered in terms the thread checker can see too.
        std::lock_guard guard(mutex_);
        std::erase_if(outstanding_,
                      [](const std::weak_ptr<TSendTicket> &weak) { return weak.expired(); });
        outstanding_.push_back(ticket);
        event = new TMessageEvent(msg, wParam, lParam, ticket);
    }
    QCoreApplication::postEvent(this, event);
    return ticket;
}

void TGuiMessageTarget::SendPosted()
{
    QCoreApplication::sendPostedEvents(nullptr, MessageEventType());
}

bool TGuiMessageTarget::OnOwnThread() const
{
    return QThread::currentThread() == thread();
}

bool TGuiMessageTarget::event(QEvent *e)
{
    // Pairs with the lock in PostMessage: whatever the dispatch thread wrote into the event is
    // seen here after it.
    {
        std::lock_guard guard(mutex_);
    }
    if (e->type() != MessageEventType())
        return QObject::event(e);
    auto *message = static_cast<TMessageEvent *>(e);
    // A message whose sender gave up waiting is skipped.
    if (!message->Ticket->Begin())
        return true;
    TFinishGuard finish(*message->Ticket);
    try {
        HandleMessage(message->Msg, message->WParam, message->LParam);
    } catch (const std::exception &ex) {
        platform::ShowException(ex);
    }
    return true;
}

} // namespace serial
