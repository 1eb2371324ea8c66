#include "util/TimerPool.h"

#include "platform/messages/Application.h"
#include "platform/runtime/Exceptions.h"

#include "platform/runtime/SysUtils.h"
#include "util/Timer.h"
#include <utility>

#include <algorithm>
#include <climits>
#include <vector>

// ---- TTrigger ---------------------------------------------------------------------

TTrigger::TTrigger(TTimerPool* Pool) : TTrigger(Pool, Pool->NextHandle()) {}

TTrigger::TTrigger(TTimerPool* Pool, std::int32_t Handle)
    : TComponent(Pool), FHandle(Handle), FLastTick(GetTickCount()), FStartTick(FLastTick) {
    // Joining the pool above happened before this was a trigger; index it now.
    Pool->IndexTrigger(this);
}

TTrigger::~TTrigger() {
    // The pool plans its timer on hearing of the removal, and must still see a trigger.
    BeginDestroy();
}

bool TTrigger::SetEnabled(bool Value) {
    FEnabled = Value;
    return FEnabled;
}

void TTrigger::SetInterval(std::int32_t Value) {
    FInterval = std::max(Value, kMinTriggerInterval);
}

void TTrigger::SetCount(std::int32_t Value) {
    if (Value == FCount) return;
    if (Value == 0) {
        SetEnabled(false);
        FCount = -1;
    } else {
        FCount = Value;
    }
}

void TTrigger::CheckTime(DWORD Now) {
    if (static_cast<std::int32_t>(Now - FLastTick) >= FInterval - kTriggerTolerance) Fire(Now);
}

void TTrigger::Fire(DWORD Now) {
    if (const TTriggerEvent handler = FOnTrigger) {
        const std::weak_ptr<char> life = FLife;
        try {
            handler(Owner(), FHandle, static_cast<std::int32_t>(Now - FLastTick),
                    static_cast<std::int32_t>(Now - FStartTick));
        } catch (const EAbort&) {
        } catch (const Exception& E) {
            Application.HandleException(E);
        }
        if (life.expired()) return; // the handler removed this trigger
    }
    FLastTick = Now;
    if (FCount > 0) --FCount;
    if (FCount == 0) {
        SetEnabled(false);
        FCount = -1;
    }
}

// ---- TTimerPool -------------------------------------------------------------------

TTimerPool::TTimerPool(TComponent* AOwner) : TComponent(AOwner) {}

TTimerPool::~TTimerPool() {
    // From here on removals are not planned: triggers and timer simply go.
    BeginDestroy();
    FTimer = nullptr;
    DestroyComponents();
}

std::int32_t TTimerPool::AddTrigger(std::int32_t Interval, std::int32_t Count,
                                    TTriggerEvent Event) {
    auto* trigger = new TTrigger(this);
    try {
        trigger->SetEnabled(FDefEnabled);
        trigger->SetInterval(Interval);
        trigger->SetCount(Count);
        trigger->SetOnTrigger(std::move(Event));
    } catch (...) {
        delete trigger;
        throw;
    }
    UpdateTimer();
    return trigger->Handle();
}

std::int32_t TTimerPool::AddTrigger(std::int32_t Interval, TTriggerEvent Event) {
    return AddTrigger(Interval, -1, std::move(Event));
}

void TTimerPool::RemoveTrigger(std::int32_t Handle) {
    delete TriggerByHandle(Handle);
}

void TTimerPool::SetTriggerInterval(std::int32_t Handle, std::int32_t Interval) {
    TriggerByHandle(Handle)->SetInterval(Interval);
    UpdateTimer();
}

TTrigger* TTimerPool::TriggerByHandle(std::int32_t Handle) const {
    const auto it = std::lower_bound(
        FByHandle.begin(), FByHandle.end(), Handle,
        [](const THandleEntry& entry, std::int32_t key) { return entry.first < key; });
    if (Handle < 0 || it == FByHandle.end() || it->first != Handle)
        throw EListError(Format("Invalid trigger handle %d", Handle));
    return it->second;
}

int TTimerPool::TriggerCount() const {
    return ComponentCount() - (FTimer ? 1 : 0);
}

int TTimerPool::EnabledTriggerCount() const {
    int count = 0;
    FindEnabledTrigger(
        [&count](TTrigger*, std::intptr_t) {
            ++count;
            return true;
        },
        0);
    return count;
}

TTrigger* TTimerPool::FindTrigger(const TTriggerTest& Test, std::intptr_t UserValue) const {
    for (int i = 0; i < ComponentCount(); ++i) {
        auto* trigger = dynamic_cast<TTrigger*>(Components(i));
        if (trigger && !Test(trigger, UserValue)) return trigger;
    }
    return nullptr;
}

TTrigger* TTimerPool::FindEnabledTrigger(const TTriggerTest& Test, std::intptr_t UserValue) const {
    return FindTrigger(
        [&Test](TTrigger* t, std::intptr_t value) { return !t->Enabled() || Test(t, value); },
        UserValue);
}

std::int32_t TTimerPool::NextHandle() const {
    // Sorted handles: the first gap in 0, 1, 2, ... is the smallest free one.
    std::int32_t next = 0;
    for (const auto& [handle, trigger] : FByHandle) {
        if (handle > next) break;
        if (handle == next) ++next;
    }
    return next;
}

void TTimerPool::Tick() {
    const DWORD now = GetTickCount();
    const std::weak_ptr<char> life = FLife;
    // Handlers may add or remove triggers, or free the pool. Walk the triggers as they were
    // when the tick began, so removing an earlier one never makes a later due one miss
    // this tick; a trigger freed meanwhile is skipped, one added meanwhile waits.
    std::vector<std::pair<TTrigger*, std::weak_ptr<char>>> triggers;
    triggers.reserve(FByHandle.size());
    for (int i = 0; i < ComponentCount(); ++i) {
        if (auto* trigger = dynamic_cast<TTrigger*>(Components(i)))
            triggers.emplace_back(trigger, trigger->FLife);
    }
    for (const auto& [trigger, alive] : triggers) {
        if (!alive.expired() && trigger->Enabled()) trigger->CheckTime(now);
        if (life.expired()) return;
    }
    if (const TTriggerEvent handler = FOnAllTriggers) handler(this, -1, 0, 0);
}

void TTimerPool::Notification(TComponent* AComponent, TOperation Operation) {
    TComponent::Notification(AComponent, Operation);
    if (Operation == opInsert) {
        // A trigger built here indexes itself; this catches one moved in from elsewhere.
        if (auto* trigger = dynamic_cast<TTrigger*>(AComponent)) IndexTrigger(trigger);
        return;
    }
    if (Operation != opRemove) return;
    // Forget the trigger even while the pool goes, so the index never dangles.
    const bool wasTrigger = UnindexTrigger(AComponent);
    if (ComponentState() & csDestroying) return;
    if (AComponent == FTimer) {
        FTimer = nullptr;
    } else if (wasTrigger) {
        UpdateTimer();
    }
}

void TTimerPool::IndexTrigger(TTrigger* Trigger) {
    const auto it = std::upper_bound(
        FByHandle.begin(), FByHandle.end(), Trigger->Handle(),
        [](std::int32_t key, const THandleEntry& entry) { return key < entry.first; });
    FByHandle.insert(it, {Trigger->Handle(), Trigger});
}

bool TTimerPool::UnindexTrigger(const TComponent* AComponent) {
    const auto it =
        std::find_if(FByHandle.begin(), FByHandle.end(), [AComponent](const THandleEntry& entry) {
            return entry.second == AComponent;
        });
    if (it == FByHandle.end()) return false;
    FByHandle.erase(it);
    return true;
}

void TTimerPool::UpdateTimer() {
    std::int32_t interval = INT32_MAX;
    int enabled = 0;
    for (const auto& [handle, trigger] : FByHandle) {
        if (trigger->Enabled()) {
            ++enabled;
            interval = std::min(interval, trigger->Interval());
        }
    }
    if (enabled < 1) {
        FreeTimer();
        return;
    }
    interval = std::max(interval, kMinTriggerInterval);
    if (FTimer && FTimer->Interval() == static_cast<UINT>(interval)) return;
    FreeTimer();
    auto* timer = new vt::TTimer(this);
    FTimer = timer;
    timer->SetInterval(static_cast<UINT>(interval));
    timer->SetEnabled(true);
    timer->SetOnTimer([this](TObject*) { Tick(); });
}

void TTimerPool::FreeTimer() {
    delete std::exchange(FTimer, nullptr);
}
