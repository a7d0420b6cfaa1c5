#include "indi/indi_loop.h"

#include <indidevapi.h>

namespace kyr::indi {

// libindi frees a one-shot timer after its function returns, so a timer is never removed
// from inside its own function: its id is forgotten first.

// ---------------------------------------------------------------- reply timer

IndiReplyTimer::~IndiReplyTimer() {
    tick_ = nullptr;
    setEnabled(false);
}

void IndiReplyTimer::arm() {
    id_ = IEAddTimer(interval_, &IndiReplyTimer::fire, this);
}

void IndiReplyTimer::setEnabled(bool enabled) {
    if (enabled == enabled_) return;
    enabled_ = enabled;
    if (enabled) {
        arm();
    } else if (id_ >= 0) {
        IERmTimer(id_);
        id_ = -1;
    }
}

void IndiReplyTimer::fire(void* self) {
    auto* t = static_cast<IndiReplyTimer*>(self);
    t->id_ = -1;
    if (!t->enabled_) return;
    t->arm();  // the next tick, unless the handler stops the timer
    if (t->tick_) t->tick_();
}

// ---------------------------------------------------------------- deferred calls

IndiScheduler::~IndiScheduler() {
    for (auto& [key, call] : pending_) {
        IERmTimer(call->id);
        delete call;
    }
}

void IndiScheduler::callLater(int ms, std::function<void()> fn) {
    auto* call = new Call{this, nextKey_++, -1, std::move(fn)};
    pending_[call->key] = call;
    call->id = IEAddTimer(ms < 0 ? 0 : ms, &IndiScheduler::fire, call);
}

void IndiScheduler::fire(void* p) {
    auto* call = static_cast<Call*>(p);
    call->owner->pending_.erase(call->key);
    const std::function<void()> fn = std::move(call->fn);
    delete call;
    if (fn) fn();
}

// ---------------------------------------------------------------- descriptor watch

void IndiDescriptorWatch::watch(int fd, std::function<void()> readable) {
    unwatch();
    readable_ = std::move(readable);
    id_ = IEAddCallback(fd, &IndiDescriptorWatch::fire, this);
}

void IndiDescriptorWatch::unwatch() {
    if (id_ >= 0) IERmCallback(id_);
    id_ = -1;
}

void IndiDescriptorWatch::fire(int, void* self) {
    auto* w = static_cast<IndiDescriptorWatch*>(self);
    // The handler may end the watch; it runs on a copy.
    const std::function<void()> readable = w->readable_;
    if (w->id_ >= 0 && readable) readable();
}

}  // namespace kyr::indi
