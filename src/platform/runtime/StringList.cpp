#include "platform/runtime/StringList.h"

#include "platform/runtime/Exceptions.h"
#include "platform/runtime/Streams.h"
#include "platform/runtime/SysUtils.h"

#include <algorithm>

// ---- TStrings ----

void TStrings::Error(const char* Msg, int Data) {
    throw EStringListError(Format(Msg, Data));
}

int TStrings::Add(const std::string& S) {
    const int index = Count();
    Insert(index, S);
    return index;
}

int TStrings::AddObject(const std::string& S, TObject* AObject) {
    const int index = Add(S);
    SetObjects(index, AObject);
    return index;
}

void TStrings::AddStrings(const TStrings& Strings) {
    if (&Strings == this) {
        const int n = Count();
        for (int i = 0; i < n; ++i)
            AddObject(std::string(Strings.Strings(i)), Strings.Objects(i));
        return;
    }
    for (int i = 0; i < Strings.Count(); ++i)
        AddObject(Strings.Strings(i), Strings.Objects(i));
}

void TStrings::Assign(const TStrings& Source) {
    if (&Source == this) return;
    Clear();
    AddStrings(Source);
}

void TStrings::Exchange(int Index1, int Index2) {
    const std::string s1 = Strings(Index1);
    TObject* o1 = Objects(Index1);
    SetStrings(Index1, Strings(Index2));
    SetObjects(Index1, Objects(Index2));
    SetStrings(Index2, s1);
    SetObjects(Index2, o1);
}

int TStrings::IndexOf(std::string_view S) const {
    for (int i = 0; i < Count(); ++i)
        if (SameText(Strings(i), S)) return i;
    return -1;
}

int TStrings::IndexOfObject(const TObject* AObject) const {
    for (int i = 0; i < Count(); ++i)
        if (Objects(i) == AObject) return i;
    return -1;
}

std::string TStrings::Text() const {
    size_t length = 0;
    for (int i = 0; i < Count(); ++i)
        length += Strings(i).size() + 2;
    std::string text;
    text.reserve(length);
    for (int i = 0; i < Count(); ++i) {
        text += Strings(i);
        text += sLineBreak;
    }
    return text;
}

void TStrings::SetText(std::string_view Value) {
    Clear();
    size_t start = 0;
    while (start < Value.size()) {
        size_t end = Value.find_first_of("\r\n", start);
        if (end == std::string_view::npos) end = Value.size();
        Add(std::string(Value.substr(start, end - start)));
        start = end;
        if (start < Value.size() && Value[start] == '\r') ++start;
        if (start < Value.size() && Value[start] == '\n') ++start;
    }
}

std::string TStrings::Names(int Index) const {
    const std::string& s = Strings(Index);
    const size_t eq = s.find('=');
    return eq == std::string::npos ? std::string() : s.substr(0, eq);
}

std::string TStrings::ValueFromIndex(int Index) const {
    const std::string& s = Strings(Index);
    const size_t eq = s.find('=');
    return eq == std::string::npos ? std::string() : s.substr(eq + 1);
}

int TStrings::IndexOfName(std::string_view Name) const {
    for (int i = 0; i < Count(); ++i) {
        const std::string& s = Strings(i);
        const size_t eq = s.find('=');
        if (eq != std::string::npos && SameText(std::string_view(s).substr(0, eq), Name)) return i;
    }
    return -1;
}

std::string TStrings::Values(std::string_view Name) const {
    const int i = IndexOfName(Name);
    return i < 0 ? std::string() : ValueFromIndex(i);
}

void TStrings::SetValues(std::string_view Name, std::string_view Value) {
    int i = IndexOfName(Name);
    if (Value.empty()) {
        if (i >= 0) Delete(i);
        return;
    }
    std::string line(Name);
    line += '=';
    line += Value;
    if (i < 0)
        Add(line);
    else
        SetStrings(i, line);
}

void TStrings::LoadFromStream(TStream* Stream) {
    const std::int64_t left = Stream->Size() - Stream->Position();
    std::string text;
    if (left > 0) text.resize(static_cast<size_t>(left));
    for (size_t done = 0; done < text.size();) {
        const auto n = static_cast<std::int32_t>(std::min<size_t>(text.size() - done, 1u << 30));
        Stream->ReadBuffer(text.data() + done, n);
        done += static_cast<size_t>(n);
    }
    SetText(text);
}

void TStrings::SaveToStream(TStream* Stream) const {
    const std::string text = Text();
    Stream->WriteBuffer(text.data(), static_cast<std::int32_t>(text.size()));
}

void TStrings::LoadFromFile(const std::string& FileName) {
    TFileStream file(FileName, fmOpenRead | fmShareDenyWrite);
    LoadFromStream(&file);
}

void TStrings::SaveToFile(const std::string& FileName) const {
    TFileStream file(FileName, fmCreate);
    SaveToStream(&file);
}

// ---- TStringList ----

void TStringList::CheckIndex(int Index) const {
    if (Index < 0 || Index >= Count()) Error("List index out of bounds (%d)", Index);
}

int TStringList::Compare(std::string_view S1, std::string_view S2) const {
    return FCaseSensitive ? CompareStr(S1, S2) : CompareText(S1, S2);
}

const std::string& TStringList::Strings(int Index) const {
    CheckIndex(Index);
    return FItems[static_cast<size_t>(Index)].first;
}

void TStringList::SetStrings(int Index, const std::string& S) {
    if (FSorted) throw EStringListError("Operation not allowed on sorted list");
    CheckIndex(Index);
    FItems[static_cast<size_t>(Index)].first = S;
}

TObject* TStringList::Objects(int Index) const {
    CheckIndex(Index);
    return FItems[static_cast<size_t>(Index)].second;
}

void TStringList::SetObjects(int Index, TObject* AObject) {
    CheckIndex(Index);
    FItems[static_cast<size_t>(Index)].second = AObject;
}

void TStringList::Insert(int Index, const std::string& S) {
    if (FSorted) throw EStringListError("Operation not allowed on sorted list");
    if (Index < 0 || Index > Count()) Error("List index out of bounds (%d)", Index);
    FItems.insert(FItems.begin() + Index, {S, nullptr});
}

void TStringList::Delete(int Index) {
    CheckIndex(Index);
    FItems.erase(FItems.begin() + Index);
}

void TStringList::Clear() {
    FItems.clear();
}

int TStringList::Add(const std::string& S) {
    if (!FSorted) {
        FItems.emplace_back(S, nullptr);
        return Count() - 1;
    }
    int index;
    if (Find(S, index)) {
        if (FDuplicates == dupIgnore) return index;
        if (FDuplicates == dupError)
            throw EStringListError("String list does not allow duplicates");
        // dupAccept: after the equal ones, so equal strings keep their order of arrival
        while (index < Count() && Compare(FItems[static_cast<size_t>(index)].first, S) == 0)
            ++index;
    }
    FItems.insert(FItems.begin() + index, {S, nullptr});
    return index;
}

int TStringList::IndexOf(std::string_view S) const {
    if (!FSorted) {
        for (int i = 0; i < Count(); ++i)
            if (Compare(FItems[static_cast<size_t>(i)].first, S) == 0) return i;
        return -1;
    }
    int index;
    return Find(S, index) ? index : -1;
}

bool TStringList::Find(std::string_view S, int& Index) const {
    // Lower bound: the first entry not less than S, so duplicates report their first.
    const auto it = std::lower_bound(
        FItems.begin(), FItems.end(), S,
        [this](const auto& item, std::string_view key) { return Compare(item.first, key) < 0; });
    Index = static_cast<int>(it - FItems.begin());
    return it != FItems.end() && Compare(it->first, S) == 0;
}

void TStringList::Sort() {
    std::stable_sort(FItems.begin(), FItems.end(), [this](const auto& a, const auto& b) {
        return Compare(a.first, b.first) < 0;
    });
}

void TStringList::SetSorted(bool Value) {
    if (Value == FSorted) return;
    if (Value) Sort();
    FSorted = Value;
}

void TStringList::SetCaseSensitive(bool Value) {
    if (Value == FCaseSensitive) return;
    FCaseSensitive = Value;
    if (FSorted) Sort();
}
