#pragma once
// A hook on one of the port component's events (any std::function<void(...)> slot): it saves the
// handler the slot held, installs its own, and its own handler does its work and then calls the
// saved one with the same arguments. Several hooks on one slot form a chain, newest first.
//
// Leaving the chain must never drop a handler installed later. Release() is the strict way out:
// it restores exactly what it saved, and refuses (std::logic_error, nothing changed) when the
// slot no longer holds this hook's handler. Unlink() (also run by the destructor) always leaves
// safely: on top it restores the saved handler; below another hook it hands that hook its own
// saved handler; below a handler that copied ours by hand it stays there as a bare pass-on.
//
// A handler may release its own hook, or another, while an event runs through the chain: the
// hook's state lives as long as a call still uses it. Everything here belongs to the thread that
// raises the events (the GUI thread); the slot must outlive the hook.

#include <exception>
#include <functional>
#include <memory>
#include <stdexcept>

namespace serial
{

template <typename Slot> class TEventHook;

template <typename... Args> class TEventHook<std::function<void(Args...)>>
{
  public:
    using Slot = std::function<void(Args...)>;

    TEventHook() = default;
    TEventHook(Slot &slot, Slot handler) { Install(slot, std::move(handler)); }
    ~TEventHook() { Unlink(); }
    TEventHook(const TEventHook &) = delete;
    TEventHook &operator=(const TEventHook &) = delete;

    // Saves what the slot holds and puts this hook's handler in its place.
    void Install(Slot &slot, Slot handler)
    {
        if (slot_ != nullptr)
            throw std::logic_error("event hook installed twice");
        auto state = std::make_shared<State>();
        state->own = std::move(handler);
        state->saved = slot;
        slot = Link{state};
        slot_ = &slot;
        state_ = std::move(state);
    }

    // Gives the slot back what it held before Install. Refused while a handler installed later
    // still sits in the slot: restoring would drop it. Nothing to do when not installed.
    void Release()
    {
        if (slot_ == nullptr)
            return;
        if (!OnTop())
            throw std::logic_error("event hook released out of order");
        *slot_ = state_->saved;
        Forget();
    }

    // Leaves the chain without disturbing anything installed later; never fails.
    void Unlink() noexcept
    {
        if (slot_ == nullptr)
            return;
        Slot *holder = slot_;
        while (holder != nullptr && *holder) {
            Link *link = holder->template target<Link>();
            if (link == nullptr)
                break;
            if (link->state == state_) {
                *holder = state_->saved;
                Forget();
                return;
            }
            holder = &link->state->saved;
        }
        // A handler that is not a hook holds ours: it stays there and only passes events on.
        state_->passOnly = true;
        Forget();
    }

    bool Installed() const { return slot_ != nullptr; }
    // True while the slot itself holds this hook's handler (nothing was installed after it).
    bool OnTop() const
    {
        if (slot_ == nullptr)
            return false;
        const Link *link = slot_->template target<Link>();
        return link != nullptr && link->state == state_;
    }

  private:
    struct State {
        Slot own;
        Slot saved;
        bool passOnly = false;
    };

    // What the slot holds: a small callable type, so a hook recognises its own handler.
    struct Link {
        std::shared_ptr<State> state;

        void operator()(Args... args) const
        {
            // The call keeps the state alive: a handler may release this hook, which destroys
            // this Link; nothing below touches it again.
            const std::shared_ptr<State> keep = state;
            if (!keep->passOnly && keep->own) {
                try {
                    keep->own(args...);
                } catch (...) {
                    // The handlers below still get the event; then the failure goes on.
                    const std::exception_ptr failure = std::current_exception();
                    if (keep->saved)
                        keep->saved(args...);
                    std::rethrow_exception(failure);
                }
            }
            if (keep->saved)
                keep->saved(args...);
        }
    };

    void Forget()
    {
        slot_ = nullptr;
        state_.reset();
    }

    Slot *slot_ = nullptr;
    std::shared_ptr<State> state_;
};

} // namespace serial
