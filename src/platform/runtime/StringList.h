#pragma once
// String lists: the abstract TStrings interface and the TStringList that stores them.
// Each string may carry an object pointer, which the list never owns.

#include "platform/runtime/Classes.h"

#include <string>
#include <string_view>
#include <utility>
#include <vector>

class TStream;

// Index errors raise EStringListError "List index out of bounds (%d)".
class TStrings : public TObject {
public:
    virtual int Count() const = 0;
    virtual const std::string& Strings(int Index) const = 0;
    virtual void SetStrings(int Index, const std::string& S) = 0;
    virtual TObject* Objects(int Index) const = 0;
    virtual void SetObjects(int Index, TObject* AObject) = 0;
    virtual void Insert(int Index, const std::string& S) = 0;
    virtual void Delete(int Index) = 0;
    virtual void Clear() = 0;
    // Returns the new string's index.
    virtual int Add(const std::string& S);
    int AddObject(const std::string& S, TObject* AObject);
    void AddStrings(const TStrings& Strings);
    void Assign(const TStrings& Source); // strings and objects
    void Exchange(int Index1, int Index2);

    const std::string& operator[](int Index) const { return Strings(Index); }
    // First match, ASCII case-blind; -1 when absent.
    virtual int IndexOf(std::string_view S) const;
    int IndexOfObject(const TObject* AObject) const;

    // Every string followed by a CR LF. SetText splits at CR LF, LF or a lone CR; a
    // break at the very end adds no empty string.
    std::string Text() const;
    void SetText(std::string_view Value);

    // "name=value" strings. Names compare ASCII case-blind.
    std::string Names(int Index) const; // "" when the string has no '='
    std::string ValueFromIndex(int Index) const;
    int IndexOfName(std::string_view Name) const;
    std::string Values(std::string_view Name) const; // "" when absent
    // Replaces the value, appends "name=value" when absent; an empty value deletes it.
    void SetValues(std::string_view Name, std::string_view Value);

    // Reads from the stream's position to its end.
    void LoadFromStream(TStream* Stream);
    void SaveToStream(TStream* Stream) const;
    void LoadFromFile(const std::string& FileName);
    void SaveToFile(const std::string& FileName) const;

protected:
    [[noreturn]] static void Error(const char* Msg, int Data); // raises EStringListError
};

enum TDuplicates { dupIgnore, dupAccept, dupError };

class TStringList : public TStrings {
public:
    TStringList() = default;
    ~TStringList() override = default;
    TStringList(const TStringList&) = default;
    TStringList& operator=(const TStringList&) = default;

    int Count() const override { return static_cast<int>(FItems.size()); }
    const std::string& Strings(int Index) const override;
    // Not allowed on a sorted list.
    void SetStrings(int Index, const std::string& S) override;
    TObject* Objects(int Index) const override;
    void SetObjects(int Index, TObject* AObject) override;
    // On a sorted list raises EStringListError "Operation not allowed on sorted list".
    void Insert(int Index, const std::string& S) override;
    void Delete(int Index) override;
    void Clear() override;
    // On a sorted list: at its sorted place; a duplicate is dropped (dupIgnore, returns
    // the existing index), kept (dupAccept) or refused with EStringListError "String list
    // does not allow duplicates" (dupError).
    int Add(const std::string& S) override;
    int IndexOf(std::string_view S) const override;

    // Binary search of a sorted list: true when found; Index is the match or the place
    // where S would go.
    bool Find(std::string_view S, int& Index) const;
    void Sort();

    bool Sorted() const { return FSorted; }
    void SetSorted(bool Value);
    TDuplicates Duplicates() const { return FDuplicates; }
    void SetDuplicates(TDuplicates Value) { FDuplicates = Value; }
    // Comparison for IndexOf, Find and sorting; case-blind unless set.
    bool CaseSensitive() const { return FCaseSensitive; }
    void SetCaseSensitive(bool Value);

private:
    int Compare(std::string_view S1, std::string_view S2) const;
    void CheckIndex(int Index) const;

    std::vector<std::pair<std::string, TObject*>> FItems;
    bool FSorted = false;
    bool FCaseSensitive = false;
    TDuplicates FDuplicates = dupIgnore;
};
