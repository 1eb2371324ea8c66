#pragma once
// Many clients sharing one interval timer: a pool of triggers, each with its own
// interval, repeat count and event, addressed by a small integer handle. The pool runs
// one window timer at the shortest enabled interval (never below kMinTriggerInterval)
// and on each tick fires the triggers whose interval has (nearly) passed.

#include "platform/runtime/Classes.h"
#include "platform/runtime/WinTypes.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace vt {
class TTimer;
}

class TTimerPool;
class TTrigger;

using TTriggerEvent = std::function<void(TObject* Sender, std::int32_t Handle,
                                         std::int32_t IntervalTicks, std::int32_t ElapsedTicks)>;
// Search test: returns false for the trigger being looked for.
using TTriggerTest = std::function<bool(TTrigger* Trigger, std::intptr_t UserValue)>;

constexpr std::int32_t kMinTriggerInterval = 55;
// A trigger fires this much before its interval has fully passed, so that a tick
// arriving a little early does not cost it a whole period.
constexpr std::int32_t kTriggerTolerance = 23;

class TTrigger : public TComponent {
public:
    // Takes its handle from the pool before joining it.
    explicit TTrigger(TTimerPool* Pool);
    ~TTrigger() override;

    bool Enabled() const { return FEnabled; }
    bool SetEnabled(bool Value);
    std::int32_t Handle() const { return FHandle; }
    std::int32_t Interval() const { return FInterval; }
    void SetInterval(std::int32_t Value);
    // -1: without limit. Setting 0 disables the trigger and stores -1.
    std::int32_t Count() const { return FCount; }
    void SetCount(std::int32_t Value);
    DWORD LastTick() const { return FLastTick; }
    DWORD StartTick() const { return FStartTick; }
    const TTriggerEvent& OnTrigger() const { return FOnTrigger; }
    void SetOnTrigger(TTriggerEvent Value) { FOnTrigger = std::move(Value); }

    void CheckTime(DWORD Now);
    void Fire(DWORD Now);

private:
    friend class TTimerPool;
    TTrigger(TTimerPool* Pool, std::int32_t Handle);
    TTimerPool* Pool() const;

    bool FEnabled = false;
    std::int32_t FHandle;
    std::int32_t FInterval = kMinTriggerInterval;
    std::int32_t FCount = 0;
    DWORD FLastTick;
    DWORD FStartTick;
    TTriggerEvent FOnTrigger;
    // Expires with the trigger, so Fire can tell whether its handler freed it.
    std::shared_ptr<char> FLife = std::make_shared<char>();
};

class TTimerPool : public TComponent {
public:
    explicit TTimerPool(TComponent* AOwner);
    ~TTimerPool() override;

    bool DefEnabled() const { return FDefEnabled; }
    void SetDefEnabled(bool Value) { FDefEnabled = Value; }
    const TTriggerEvent& OnAllTriggers() const { return FOnAllTriggers; }
    void SetOnAllTriggers(TTriggerEvent Value) { FOnAllTriggers = std::move(Value); }
    // The running timer, or null.
    vt::TTimer* Timer() const { return FTimer; }

    std::int32_t AddTrigger(std::int32_t Interval, std::int32_t Count, TTriggerEvent Event);
    std::int32_t AddTrigger(std::int32_t Interval, TTriggerEvent Event);
    void RemoveTrigger(std::int32_t Handle);
    void SetTriggerInterval(std::int32_t Handle, std::int32_t Interval);
    // EListError "Invalid trigger handle %d" when no trigger has the handle.
    TTrigger* TriggerByHandle(std::int32_t Handle) const;
    int TriggerCount() const;
    int EnabledTriggerCount() const;
    TTrigger* FindTrigger(const TTriggerTest& Test, std::intptr_t UserValue) const;
    TTrigger* FindEnabledTrigger(const TTriggerTest& Test, std::intptr_t UserValue) const;

    virtual std::int32_t NextHandle() const;
    virtual void Tick();

protected:
    void Notification(TComponent* AComponent, TOperation Operation) override;

private:
    friend class TTrigger;
    using THandleEntry = std::pair<std::int32_t, TTrigger*>;

    // Plans the timer for the enabled triggers.
    void UpdateTimer();
    void FreeTimer();
    void IndexTrigger(TTrigger* Trigger);
    bool UnindexTrigger(const TComponent* AComponent);

    bool FDefEnabled = true;
    vt::TTimer* FTimer = nullptr;
    TTriggerEvent FOnAllTriggers;
    // The pool's triggers sorted by handle, equal handles in owned-component order, so
    // lookups by handle and the search for a free one need no walk with type checks.
    std::vector<THandleEntry> FByHandle;
    // Expires with the pool, so a tick can tell whether a handler freed it.
    std::shared_ptr<char> FLife = std::make_shared<char>();
};
