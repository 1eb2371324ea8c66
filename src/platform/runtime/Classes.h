#pragma once
// The framework's base classes: TObject, the pointer list TList and TComponent with
// its ownership and removal notifications.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

class TObject {
public:
    TObject() = default;
    TObject(const TObject&) = default;
    TObject& operator=(const TObject&) = default;
    virtual ~TObject() = default;
};

using TNotifyEvent = std::function<void(TObject* Sender)>;

// An ordered, growable array of untyped pointers. Index errors raise EListError
// "List index out of bounds (%d)". The list never owns what it points to.
class TList : public TObject {
public:
    using TListSortCompare = int (*)(void* Item1, void* Item2);

    TList() = default;
    ~TList() override = default;

    int Add(void* Item);                // returns the new item's index
    void Insert(int Index, void* Item); // 0 <= Index <= Count
    void Delete(int Index);
    int Remove(void* Item);              // index the item had, -1 when absent
    void* Extract(void* Item);           // removes and returns the item, nullptr when absent
    int IndexOf(const void* Item) const; // -1 when absent
    void Exchange(int Index1, int Index2);
    void Move(int CurIndex, int NewIndex);
    void Pack(); // drops nullptr entries
    void Sort(TListSortCompare Compare);
    // Count becomes 0 and the storage is released.
    virtual void Clear();

    int Count() const { return static_cast<int>(FItems.size()); }
    void SetCount(int NewCount); // grows with nullptr entries
    int Capacity() const { return static_cast<int>(FItems.capacity()); }
    void SetCapacity(int NewCapacity); // never below Count
    void* Items(int Index) const;
    void SetItems(int Index, void* Item);
    void* First() const { return Items(0); }
    void* Last() const { return Items(Count() - 1); }
    // The raw array, valid until the list changes size.
    void* const* List() const { return FItems.data(); }

protected:
    [[noreturn]] static void Error(const char* Msg, int Data); // raises EListError

private:
    void CheckIndex(int Index) const;
    std::vector<void*> FItems;
};

enum TOperation { opInsert, opRemove };

// ComponentState() bits.
enum : unsigned { csLoading = 0x1, csDestroying = 0x2, csDesigning = 0x4 };

// A component with an owner. Create it with `new X(owner)`: the owner holds it in its
// component list and deletes it when the owner itself is deleted (the owner's children
// go last-created first). A component deleted on its own leaves its owner's list.
// Components without an owner (nullptr) are freed by whoever created them.
//
// Whenever a component leaves its owner, the owner's Notification(child, opRemove) runs
// while the child is still listed, then the child is removed. While the owner itself is
// being destroyed it is csDestroying (and once its derived destructors have run, only
// the base class's Notification is left to hear).
// Components that asked for FreeNotification get Notification(this, opRemove) when it
// is destroyed.
//
// Joining is announced (opInsert) from TComponent's constructor, before the derived
// constructors have run, so an owner can know a new child only by its address then.
// The base destructor runs after the derived ones, so by default the owner and the
// subscribers hear of a deleted component when only its TComponent part is left. A
// derived class that must still be whole then (for dynamic_cast, say) calls
// BeginDestroy() first thing in its own destructor.
class TComponent : public TObject {
public:
    explicit TComponent(TComponent* AOwner);
    ~TComponent() override;
    TComponent(const TComponent&) = delete;
    TComponent& operator=(const TComponent&) = delete;

    TComponent* Owner() const { return FOwner; }
    int ComponentCount() const { return static_cast<int>(FComponents.size()); }
    TComponent* Components(int Index) const; // EListError on a bad index
    int ComponentIndex() const;              // position in the owner's list, -1 without owner
    TComponent* FindComponent(std::string_view AName) const; // case-blind, nullptr if absent

    // Moves AComponent into this component's list (taking it from its old owner).
    void InsertComponent(TComponent* AComponent);
    // Takes AComponent out of the list; it then has no owner and is its caller's to free.
    void RemoveComponent(TComponent* AComponent);
    // Deletes every owned component, last first.
    void DestroyComponents();

    // AComponent gets Notification(this, opRemove) when this component is destroyed
    // (and the other way round).
    void FreeNotification(TComponent* AComponent);
    void RemoveFreeNotification(TComponent* AComponent);

    const std::string& Name() const { return FName; }
    // Raises EComponentError "A component named %s already exists" when a sibling of
    // the same owner already has this name (case-blind).
    void SetName(const std::string& NewName);
    std::intptr_t Tag() const { return FTag; }
    void SetTag(std::intptr_t Value) { FTag = Value; }
    unsigned ComponentState() const { return FComponentState; }

protected:
    // Called on the owner when a component joins (opInsert) or leaves (opRemove) it,
    // and on free-notification subscribers. The base version forgets a removed
    // subscriber and passes the news on to the other owned components.
    virtual void Notification(TComponent* AComponent, TOperation Operation);
    // Marks this component and its children csDestroying.
    void Destroying();
    // Marks destroying, notifies subscribers and leaves the owner; runs once. A derived
    // destructor that deletes its children itself calls this first, so its own
    // Notification sees csDestroying.
    void BeginDestroy();
    void SetComponentState(unsigned State) { FComponentState = State; }

private:
    void Insert(TComponent* AComponent);
    void Remove(TComponent* AComponent);
    static void EraseFrom(std::vector<TComponent*>& List, TComponent* Item);

    TComponent* FOwner = nullptr;
    std::vector<TComponent*> FComponents;
    std::vector<TComponent*> FFreeNotifies;
    std::string FName;
    std::intptr_t FTag = 0;
    unsigned FComponentState = 0;
    bool FDestroyBegun = false;
};
