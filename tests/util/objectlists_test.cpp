// Object lists: typed access, index errors, and the owned list's freeing order.

#include "platform/runtime/Exceptions.h"
#include "util/ObjectLists.h"

#include <gtest/gtest.h>
#include <vector>

namespace {

// Records its id in a shared log when freed.
class Probe : public TObject {
public:
    Probe(std::vector<int>& log, int id) : FLog(log), FId(id) {}
    ~Probe() override { FLog.push_back(FId); }

private:
    std::vector<int>& FLog;
    int FId;
};

TEST(UtilObjectList, OwnedListFreesInAscendingOrderAndEndsEmpty) {
    std::vector<int> freed;
    TOwnedObjectList list;
    list.Clear();
    EXPECT_EQ(list.Count(), 0);
    EXPECT_TRUE(freed.empty());

    for (int id = 0; id < 3; ++id)
        EXPECT_EQ(list.Add(new Probe(freed, id)), id);
    list.Clear();
    EXPECT_EQ(freed, (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(list.Capacity(), 0) << "storage released";
}

TEST(UtilObjectList, DestroyingAnOwnedListSkipsEmptyEntries) {
    std::vector<int> freed;
    {
        TOwnedObjectList list;
        list.Add(new Probe(freed, 0));
        list.Add(nullptr);
        list.Add(new Probe(freed, 2));
    }
    EXPECT_EQ(freed, (std::vector<int>{0, 2}));
}

TEST(UtilObjectList, FreeItemEmptiesTheEntrySoItIsNotFreedTwice) {
    std::vector<int> freed;
    {
        TOwnedObjectList list;
        for (int id = 0; id < 3; ++id)
            list.Add(new Probe(freed, id));
        list.FreeItem(1);
        EXPECT_EQ(freed, (std::vector<int>{1}));
        EXPECT_EQ(list.Count(), 3) << "the entry stays";
        EXPECT_EQ(list.Items(1), nullptr);
        list.FreeItem(1);
        EXPECT_EQ(freed.size(), 1u);
    }
    EXPECT_EQ(freed, (std::vector<int>{1, 0, 2}));
}

TEST(UtilObjectList, PlainListBorrowsAndGivesTypedAccess) {
    std::vector<int> freed;
    Probe a(freed, 1), b(freed, 2);
    {
        TObjectList list;
        list.Add(&a);
        list.Add(&b);
        EXPECT_EQ(list.Items(0), &a);
        EXPECT_EQ(list.Items(1), &b);
        EXPECT_EQ(list.IndexOf(&b), 1);
        list.Clear();
    }
    EXPECT_TRUE(freed.empty()) << "a plain list never frees its objects";
}

TEST(UtilObjectList, IndexErrorsNameTheIndex) {
    std::vector<int> freed;
    TOwnedObjectList list;
    list.Add(new Probe(freed, 0));
    for (int bad : {1, -1, 7}) {
        try {
            list.Items(bad);
            ADD_FAILURE() << "no error for " << bad;
        } catch (const EListError& e) {
            EXPECT_EQ(e.Message(), "List index out of bounds (" + std::to_string(bad) + ")");
        }
    }
    EXPECT_THROW(list.FreeItem(1), EListError);
    EXPECT_TRUE(freed.empty());
}

} // namespace
