#include "framework/Component.h"

#include <algorithm>

#include "framework/StringList.h"

namespace framework {

namespace {
void Erase(std::vector<TComponent*>& v, TComponent* c) { v.erase(std::remove(v.begin(), v.end(), c), v.end()); }
}  // namespace

TComponent::TComponent(TComponent* Owner) : owner_(Owner) {
    if (owner_) owner_->components_.push_back(this);
}

TComponent::~TComponent() {
    state_ |= csDestroying;
    NotifyRemoval();
    // Owned components still alive lose their owner (their holder frees them).
    for (TComponent* c : components_) c->owner_ = nullptr;
}

void TComponent::NotifyRemoval() {
    if (notified_) return;
    notified_ = true;
    auto watchers = freeNotifies_;
    for (TComponent* w : watchers) {
        Erase(w->freeNotifies_, this);
        w->Notification(this, TOperation::opRemove);
    }
    freeNotifies_.clear();
    if (owner_) {
        Erase(owner_->components_, this);
        owner_->Notification(this, TOperation::opRemove);
        owner_ = nullptr;
    }
}

TComponent* TComponent::FindComponent(const std::string& name) const {
    for (TComponent* c : components_)
        if (SameText(c->name_, name)) return c;
    return nullptr;
}

void TComponent::FreeNotification(TComponent* other) {
    if (!other || other == this) return;
    if (std::find(other->freeNotifies_.begin(), other->freeNotifies_.end(), this) == other->freeNotifies_.end())
        other->freeNotifies_.push_back(this);
    if (std::find(freeNotifies_.begin(), freeNotifies_.end(), other) == freeNotifies_.end())
        freeNotifies_.push_back(other);
}

void TComponent::RemoveFreeNotification(TComponent* other) {
    if (!other) return;
    Erase(other->freeNotifies_, this);
    Erase(freeNotifies_, other);
}

void TComponent::BeginLoading() {
    state_ |= csLoading;
    for (TComponent* c : components_) c->BeginLoading();
}

void TComponent::EndLoading() {
    auto owned = components_;
    for (TComponent* c : owned) c->EndLoading();
    if (state_ & csLoading) {
        state_ &= ~csLoading;
        Loaded();
    }
}

}  // namespace framework
