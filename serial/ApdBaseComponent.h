#pragma once
// Base of the serial engine's components. A component is "being loaded" between BeginLoading and
// EndLoading, while its stored settings are applied one property at a time; during that time
// RaiseOnError lets failing results pass, so a setter that cannot yet act does not raise.

namespace serial
{

class TApdBaseComponent
{
  public:
    TApdBaseComponent() = default;
    virtual ~TApdBaseComponent() = default;
    TApdBaseComponent(const TApdBaseComponent &) = delete;
    TApdBaseComponent &operator=(const TApdBaseComponent &) = delete;

    void BeginLoading() { loading_ = true; }

    // Ends loading. A component that must act once its settings are complete (a port that opens
    // itself, say) overrides this and calls TApdBaseComponent::EndLoading() first, so that its
    // own work is no longer exempt from raising.
    virtual void EndLoading() { loading_ = false; }

    bool Loading() const { return loading_; }

  private:
    bool loading_ = false;
};

} // namespace serial
