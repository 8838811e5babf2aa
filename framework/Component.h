// TComponent: the named, owned object every form part derives from. The owner keeps a list
// of what it owns (for names, loading and removal notices; freeing is by the owner's
// members, std::unique_ptr), and a component can ask another to tell it when that one goes
// away (FreeNotification), so references between parts never dangle.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace framework {

class TComponent;
using TNotifyEvent = std::function<void(TComponent* Sender)>;

enum class TOperation { opInsert, opRemove };

// Bits of ComponentState().
enum : unsigned { csLoading = 1, csDestroying = 2 };

class TComponent {
public:
    explicit TComponent(TComponent* Owner);
    virtual ~TComponent();
    TComponent(const TComponent&) = delete;
    TComponent& operator=(const TComponent&) = delete;

    TComponent* Owner() const { return owner_; }
    const std::string& Name() const { return name_; }
    void SetName(const std::string& name) { name_ = name; }
    const std::vector<TComponent*>& Components() const { return components_; }
    TComponent* FindComponent(const std::string& name) const;

    unsigned ComponentState() const { return state_; }
    bool Loading() const { return (state_ & csLoading) != 0; }
    bool Destroying() const { return (state_ & csDestroying) != 0; }

    // Ask Other to call our Notification(Other, opRemove) when it is destroyed; and undo that.
    void FreeNotification(TComponent* other);
    void RemoveFreeNotification(TComponent* other);

    // Marks this component and everything it owns as loading; EndLoading clears the mark and
    // calls Loaded on each (owned ones first), as a form does once it has built its parts.
    void BeginLoading();
    void EndLoading();

protected:
    // Told when a component we watch (or own) goes away.
    virtual void Notification(TComponent* component, TOperation operation) {}
    // After the owner finished building and setting this component.
    virtual void Loaded() {}
    // Derived destructors call this first so handlers see the component as going away.
    void MarkDestroying() { state_ |= csDestroying; }

private:
    void NotifyRemoval();

    TComponent* owner_;
    std::string name_;
    std::vector<TComponent*> components_;
    std::vector<TComponent*> freeNotifies_;
    unsigned state_ = 0;
    bool notified_ = false;
};

}  // namespace framework
