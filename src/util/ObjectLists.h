#pragma once
// Ordered lists of object references: TObjectList borrows its objects,
// TOwnedObjectList owns them and frees them when it is cleared or destroyed.

#include "platform/runtime/Classes.h"

class TObjectList : public TList {
public:
    TObjectList() = default;

    int Add(TObject* Item) { return TList::Add(Item); }
    void Insert(int Index, TObject* Item) { TList::Insert(Index, Item); }
    int IndexOf(const TObject* Item) const { return TList::IndexOf(Item); }
    int Remove(TObject* Item) { return TList::Remove(Item); }
    // EListError "List index out of bounds (%d)" outside 0 .. Count - 1.
    TObject* Items(int Index) const { return static_cast<TObject*>(TList::Items(Index)); }
    void SetItems(int Index, TObject* Item) { TList::SetItems(Index, Item); }
};

// Every stored reference is empty or an object that belongs to this list alone.
class TOwnedObjectList : public TObjectList {
public:
    TOwnedObjectList() = default;
    ~TOwnedObjectList() override;

    // Frees the object at Index; the entry stays in the list, empty, so a later Clear
    // does not free it twice. An empty entry is skipped.
    void FreeItem(int Index);
    // Frees the objects first to last, then empties the list and releases its storage.
    void Clear() override;
};
