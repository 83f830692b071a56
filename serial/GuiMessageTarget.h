#pragma once
// A message target on the GUI thread: the port component's hidden notification receiver. A
// message sent from another thread is posted as an event and the sender waits (at most 1000 ms
// until the handler begins, then until it ends); a message the GUI thread did not begin in
// time is abandoned and skipped. On the GUI thread itself the handler runs at once.

#include "serial/MessageTarget.h"

#include <QObject>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace serial
{

class TGuiMessageTarget : public QObject, public TMessageTarget
{
  public:
    using Handler = std::function<void(unsigned msg, uintptr_t wParam, intptr_t lParam)>;

    // The object lives on the thread that creates it (the GUI thread).
    explicit TGuiMessageTarget(Handler handler = {}, QObject *parent = nullptr);
    // Messages still waiting are abandoned, so their senders go on at once.
    ~TGuiMessageTarget() override;

    void SetHandler(Handler handler) { handler_ = std::move(handler); }

    void HandleMessage(unsigned msg, uintptr_t wParam, intptr_t lParam) override;
    std::shared_ptr<TSendTicket> PostMessage(unsigned msg, uintptr_t wParam,
                                             intptr_t lParam) override;
    bool OnOwnThread() const override;

    // Runs, on the calling thread, the messages posted to every target that lives there: a
    // delivery walks its port's handlers one after the other, and the terminal's target may
    // come before the port's own.
    static void SendPosted();

  protected:
    bool event(QEvent *e) override;

  private:
    Handler handler_;
    std::mutex mutex_;
    std::vector<std::weak_ptr<TSendTicket>> outstanding_;
};

} // namespace serial
