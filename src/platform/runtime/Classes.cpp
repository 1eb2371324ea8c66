#include "platform/runtime/Classes.h"

#include "platform/runtime/Exceptions.h"
#include "platform/runtime/SysUtils.h"

#include <algorithm>
#include <cstdlib>
#include <new>

// ---- TList ----

void TList::Error(const char* Msg, int Data) {
    throw EListError(Format(Msg, Data));
}

void TList::CheckIndex(int Index) const {
    if (Index < 0 || Index >= Count()) Error("List index out of bounds (%d)", Index);
}

int TList::Add(void* Item) {
    FItems.push_back(Item);
    return Count() - 1;
}

void TList::Insert(int Index, void* Item) {
    if (Index < 0 || Index > Count()) Error("List index out of bounds (%d)", Index);
    FItems.insert(FItems.begin() + Index, Item);
}

void TList::Delete(int Index) {
    CheckIndex(Index);
    FItems.erase(FItems.begin() + Index);
}

int TList::Remove(void* Item) {
    const int index = IndexOf(Item);
    if (index >= 0) Delete(index);
    return index;
}

void* TList::Extract(void* Item) {
    return Remove(Item) >= 0 ? Item : nullptr;
}

int TList::IndexOf(const void* Item) const {
    const auto it = std::find(FItems.begin(), FItems.end(), Item);
    return it == FItems.end() ? -1 : static_cast<int>(it - FItems.begin());
}

void TList::Exchange(int Index1, int Index2) {
    CheckIndex(Index1);
    CheckIndex(Index2);
    std::swap(FItems[static_cast<size_t>(Index1)], FItems[static_cast<size_t>(Index2)]);
}

void TList::Move(int CurIndex, int NewIndex) {
    if (CurIndex == NewIndex) return;
    CheckIndex(NewIndex);
    void* item = Items(CurIndex);
    FItems.erase(FItems.begin() + CurIndex);
    FItems.insert(FItems.begin() + NewIndex, item);
}

void TList::Pack() {
    std::erase(FItems, nullptr);
}

void TList::Sort(TListSortCompare Compare) {
    std::stable_sort(FItems.begin(), FItems.end(),
                     [Compare](void* a, void* b) { return Compare(a, b) < 0; });
}

void TList::Clear() {
    std::vector<void*>().swap(FItems);
}

void TList::SetCount(int NewCount) {
    if (NewCount < 0) Error("List count out of bounds (%d)", NewCount);
    FItems.resize(static_cast<size_t>(NewCount), nullptr);
}

void TList::SetCapacity(int NewCapacity) {
    if (NewCapacity < Count()) Error("List capacity out of bounds (%d)", NewCapacity);
    if (NewCapacity == Capacity()) return;
    if (NewCapacity > Capacity()) {
        FItems.reserve(static_cast<size_t>(NewCapacity));
        return;
    }
    std::vector<void*> smaller;
    smaller.reserve(static_cast<size_t>(NewCapacity));
    smaller.assign(FItems.begin(), FItems.end());
    FItems.swap(smaller);
}

void* TList::Items(int Index) const {
    CheckIndex(Index);
    return FItems[static_cast<size_t>(Index)];
}

void TList::SetItems(int Index, void* Item) {
    CheckIndex(Index);
    FItems[static_cast<size_t>(Index)] = Item;
}

// ---- TComponent ----

TComponent::TComponent(TComponent* AOwner) {
    if (AOwner != nullptr) AOwner->InsertComponent(this);
}

TComponent::~TComponent() {
    BeginDestroy();
    DestroyComponents();
}

void TComponent::BeginDestroy() {
    if (FDestroyBegun) return;
    FDestroyBegun = true;
    Destroying();
    // Each subscriber forgets us before it hears of our end, so it may unsubscribe or
    // subscribe elsewhere from its handler without touching a list being walked.
    while (!FFreeNotifies.empty()) {
        TComponent* subscriber = FFreeNotifies.back();
        FFreeNotifies.pop_back();
        EraseFrom(subscriber->FFreeNotifies, this);
        subscriber->Notification(this, opRemove);
    }
    if (FOwner != nullptr) FOwner->RemoveComponent(this);
}

void TComponent::Destroying() {
    if (FComponentState & csDestroying) return;
    FComponentState |= csDestroying;
    for (TComponent* child : FComponents)
        child->Destroying();
}

void TComponent::DestroyComponents() {
    while (!FComponents.empty()) {
        TComponent* child = FComponents.back();
        RemoveComponent(child);
        delete child;
    }
}

TComponent* TComponent::Components(int Index) const {
    if (Index < 0 || Index >= ComponentCount())
        throw EListError(Format("List index out of bounds (%d)", Index));
    return FComponents[static_cast<size_t>(Index)];
}

int TComponent::ComponentIndex() const {
    if (FOwner == nullptr) return -1;
    const auto& siblings = FOwner->FComponents;
    const auto it = std::find(siblings.begin(), siblings.end(), this);
    return it == siblings.end() ? -1 : static_cast<int>(it - siblings.begin());
}

TComponent* TComponent::FindComponent(std::string_view AName) const {
    if (AName.empty()) return nullptr;
    for (TComponent* child : FComponents)
        if (SameText(child->FName, AName)) return child;
    return nullptr;
}

void TComponent::InsertComponent(TComponent* AComponent) {
    if (AComponent == nullptr || AComponent->FOwner == this) return;
    if (!AComponent->FName.empty() && FindComponent(AComponent->FName) != nullptr)
        throw EComponentError(
            Format("A component named %s already exists", AComponent->FName.c_str()));
    if (AComponent->FOwner != nullptr) AComponent->FOwner->RemoveComponent(AComponent);
    Insert(AComponent);
    Notification(AComponent, opInsert);
}

void TComponent::RemoveComponent(TComponent* AComponent) {
    if (AComponent == nullptr || AComponent->FOwner != this) return;
    // The owner hears of the removal while the component is still in its list.
    Notification(AComponent, opRemove);
    Remove(AComponent);
}

void TComponent::Insert(TComponent* AComponent) {
    FComponents.push_back(AComponent);
    AComponent->FOwner = this;
}

void TComponent::Remove(TComponent* AComponent) {
    EraseFrom(FComponents, AComponent);
    AComponent->FOwner = nullptr;
}

void TComponent::EraseFrom(std::vector<TComponent*>& List, TComponent* Item) {
    const auto it = std::find(List.begin(), List.end(), Item);
    if (it != List.end()) List.erase(it);
}

void TComponent::FreeNotification(TComponent* AComponent) {
    if (AComponent == nullptr || AComponent == this) return;
    if (std::find(FFreeNotifies.begin(), FFreeNotifies.end(), AComponent) == FFreeNotifies.end())
        FFreeNotifies.push_back(AComponent);
    // Both sides must learn of the other's end, or one keeps a dangling pointer.
    if (std::find(AComponent->FFreeNotifies.begin(), AComponent->FFreeNotifies.end(), this) ==
        AComponent->FFreeNotifies.end())
        AComponent->FFreeNotifies.push_back(this);
}

void TComponent::RemoveFreeNotification(TComponent* AComponent) {
    if (AComponent == nullptr) return;
    EraseFrom(FFreeNotifies, AComponent);
    EraseFrom(AComponent->FFreeNotifies, this);
}

void TComponent::SetName(const std::string& NewName) {
    if (NewName == FName) return;
    if (FOwner != nullptr && !NewName.empty()) {
        TComponent* other = FOwner->FindComponent(NewName);
        if (other != nullptr && other != this)
            throw EComponentError(Format("A component named %s already exists", NewName.c_str()));
    }
    FName = NewName;
}

void TComponent::Notification(TComponent* AComponent, TOperation Operation) {
    if (Operation == opRemove && AComponent != nullptr) RemoveFreeNotification(AComponent);
    // Pass the news on to the other children (a component is not told of itself). A child
    // may leave while being told, so walk by index from the end and re-clamp each time.
    for (int i = ComponentCount() - 1; i >= 0; --i) {
        if (i >= ComponentCount()) i = ComponentCount() - 1;
        if (i < 0) break;
        TComponent* child = FComponents[static_cast<size_t>(i)];
        if (child != AComponent) child->Notification(AComponent, Operation);
    }
}
