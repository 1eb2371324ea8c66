#include "util/ObjectLists.h"

TOwnedObjectList::~TOwnedObjectList() {
    TOwnedObjectList::Clear();
}

void TOwnedObjectList::FreeItem(int Index) {
    TObject* item = Items(Index);
    if (!item) return;
    SetItems(Index, nullptr);
    delete item;
}

void TOwnedObjectList::Clear() {
    const int count = Count();
    // A destructor may shrink the list; never look past its current end.
    for (int i = 0; i < count && i < Count(); ++i)
        FreeItem(i);
    TList::Clear();
}
