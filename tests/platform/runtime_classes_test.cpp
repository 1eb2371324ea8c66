#include "platform/runtime/Classes.h"
#include "platform/runtime/Exceptions.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

template <typename E, typename F> std::string MessageOf(F&& f) {
    try {
        f();
    } catch (const E& e) {
        return e.Message();
    }
    return "no error";
}

// Records every event of its life into a shared journal.
class Probe : public TComponent {
public:
    Probe(TComponent* owner, std::string name, std::vector<std::string>& journal)
        : TComponent(owner), FLabel(std::move(name)), FJournal(journal) {}
    ~Probe() override {
        BeginDestroy(); // so owner and subscribers still see a whole Probe
        FJournal.push_back("free " + FLabel);
    }
    const std::string& Label() const { return FLabel; }

    // What the owner saw at the moment of each removal notification.
    int FoundIndexAtRemoval = -2;
    TComponent* LastInserted = nullptr;
    bool DestroyingAtRemoval = false;

protected:
    void Notification(TComponent* c, TOperation op) override {
        TComponent::Notification(c, op);
        auto* probe = dynamic_cast<Probe*>(c);
        const std::string who = probe ? probe->Label() : "?";
        FJournal.push_back(FLabel + (op == opInsert ? " +" : " -") + who);
        if (op == opInsert) LastInserted = c;
        if (op == opRemove && c->Owner() == this) {
            FoundIndexAtRemoval = c->ComponentIndex();
            DestroyingAtRemoval = (ComponentState() & csDestroying) != 0;
        }
    }

private:
    std::string FLabel;
    std::vector<std::string>& FJournal;
};

} // namespace

TEST(RuntimeList, AddInsertDeleteKeepOrder) {
    int a = 1, b = 2, c = 3;
    TList list;
    EXPECT_EQ(list.Add(&a), 0);
    EXPECT_EQ(list.Add(&c), 1);
    list.Insert(1, &b);
    ASSERT_EQ(list.Count(), 3);
    EXPECT_EQ(list.Items(0), &a);
    EXPECT_EQ(list.Items(1), &b);
    EXPECT_EQ(list.Items(2), &c);
    EXPECT_EQ(list.IndexOf(&c), 2);
    EXPECT_EQ(list.Remove(&a), 0);
    EXPECT_EQ(list.Remove(&a), -1);
    EXPECT_EQ(list.Extract(&c), &c);
    EXPECT_EQ(list.Extract(&c), nullptr);
    ASSERT_EQ(list.Count(), 1);
    EXPECT_EQ(list.First(), &b);
    list.Insert(1, &a); // at Count: appends
    EXPECT_EQ(list.Last(), &a);
    list.SetItems(0, nullptr);
    list.Add(nullptr);
    list.Pack();
    ASSERT_EQ(list.Count(), 1);
    EXPECT_EQ(list.Items(0), &a);
    list.Move(0, 0);
    list.SetCount(3);
    EXPECT_EQ(list.Items(2), nullptr);
    list.Clear();
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(list.Capacity(), 0);
}

TEST(RuntimeList, IndexErrorsNameTheIndex) {
    TList list;
    int x = 0;
    EXPECT_EQ(MessageOf<EListError>([&] { list.Items(0); }), "List index out of bounds (0)");
    list.Add(&x);
    EXPECT_EQ(MessageOf<EListError>([&] { list.Items(1); }), "List index out of bounds (1)");
    EXPECT_EQ(MessageOf<EListError>([&] { list.Items(-1); }), "List index out of bounds (-1)");
    EXPECT_EQ(MessageOf<EListError>([&] { list.Delete(5); }), "List index out of bounds (5)");
    EXPECT_EQ(MessageOf<EListError>([&] { list.Insert(2, &x); }), "List index out of bounds (2)");
    EXPECT_EQ(MessageOf<EListError>([&] { list.SetItems(7, &x); }), "List index out of bounds (7)");
    EXPECT_EQ(MessageOf<EListError>([&] { list.Exchange(0, 3); }), "List index out of bounds (3)");
    EXPECT_EQ(MessageOf<EListError>([&] { list.SetCapacity(0); }),
              "List capacity out of bounds (0)");
    EXPECT_EQ(MessageOf<EListError>([&] { list.SetCount(-1); }), "List count out of bounds (-1)");
    EXPECT_EQ(list.Count(), 1) << "a failed call changes nothing";
    EXPECT_EQ(list.Items(0), &x);
}

TEST(RuntimeList, CapacitySortAndExchange) {
    int v[4] = {3, 1, 2, 1};
    TList list;
    list.SetCapacity(100);
    EXPECT_GE(list.Capacity(), 100);
    for (int& i : v)
        list.Add(&i);
    list.SetCapacity(4);
    EXPECT_EQ(list.Count(), 4);
    list.Sort([](void* a, void* b) { return *static_cast<int*>(a) - *static_cast<int*>(b); });
    EXPECT_EQ(list.Items(0), &v[1]); // stable: the first 1 stays first
    EXPECT_EQ(list.Items(1), &v[3]);
    EXPECT_EQ(list.Items(2), &v[2]);
    EXPECT_EQ(list.Items(3), &v[0]);
    list.Exchange(0, 3);
    EXPECT_EQ(list.Items(0), &v[0]);
    EXPECT_EQ(list.Items(3), &v[1]);
    list.Move(0, 2);
    EXPECT_EQ(list.Items(2), &v[0]);
    EXPECT_EQ(list.Items(0), &v[3]);
}

TEST(RuntimeComponent, OwnerFreesChildrenLastFirstAndHearsEachWhileListed) {
    std::vector<std::string> j;
    auto* owner = new Probe(nullptr, "owner", j);
    auto* a = new Probe(owner, "a", j);
    auto* b = new Probe(owner, "b", j);
    new Probe(a, "a1", j);
    ASSERT_EQ(owner->ComponentCount(), 2);
    EXPECT_EQ(owner->Components(0), a);
    EXPECT_EQ(owner->Components(1), b);
    EXPECT_EQ(b->Owner(), owner);
    EXPECT_EQ(b->ComponentIndex(), 1);
    EXPECT_EQ(owner->ComponentIndex(), -1);
    j.clear();

    delete owner;
    // Once the owner's own destructor body has run only its base part is left, so the
    // owner no longer logs; the children go last-created first, the remaining sibling
    // (and, through it, its own child) hears of each one that goes, and a1 goes with
    // its own owner a.
    const std::vector<std::string> expected = {"free owner", "a1 -b",  "a -b",
                                               "free b",     "free a", "free a1"};
    EXPECT_EQ(j, expected);
}

TEST(RuntimeComponent, ChildDeletedAloneNotifiesItsOwnerWhileStillListed) {
    std::vector<std::string> j;
    Probe owner(nullptr, "owner", j);
    auto* a = new Probe(&owner, "a", j);
    auto* b = new Probe(&owner, "b", j);
    auto* c = new Probe(&owner, "c", j);
    j.clear();

    delete b;
    EXPECT_EQ(owner.FoundIndexAtRemoval, 1) << "the child must still be in the list";
    EXPECT_FALSE(owner.DestroyingAtRemoval);
    ASSERT_EQ(owner.ComponentCount(), 2);
    EXPECT_EQ(owner.Components(0), a);
    EXPECT_EQ(owner.Components(1), c);
    // The owner passes the news to the other children (last first) before logging it
    // itself; b is still a whole Probe throughout, then it ends.
    const std::vector<std::string> expected = {"c -b", "a -b", "owner -b", "free b"};
    EXPECT_EQ(j, expected);
}

TEST(RuntimeComponent, InsertRemoveAndIndexErrors) {
    std::vector<std::string> j;
    Probe first(nullptr, "first", j);
    Probe second(nullptr, "second", j);
    auto* child = new Probe(&first, "child", j);
    // Insertion is announced from the base constructor: known by address only.
    EXPECT_EQ(first.LastInserted, child);

    second.InsertComponent(child); // moves it
    EXPECT_EQ(j.back(), "second +child") << "a whole component is announced as such";
    EXPECT_EQ(first.ComponentCount(), 0);
    EXPECT_EQ(second.ComponentCount(), 1);
    EXPECT_EQ(child->Owner(), &second);
    EXPECT_EQ(first.FoundIndexAtRemoval, 0);

    second.RemoveComponent(child);
    EXPECT_EQ(child->Owner(), nullptr);
    EXPECT_EQ(second.ComponentCount(), 0);
    delete child; // ownerless: the caller frees it
    EXPECT_EQ(second.ComponentCount(), 0);

    EXPECT_EQ(MessageOf<EListError>([&] { second.Components(0); }), "List index out of bounds (0)");
    EXPECT_EQ(MessageOf<EListError>([&] { second.Components(-3); }),
              "List index out of bounds (-3)");
}

TEST(RuntimeComponent, FreeNotificationReachesSubscribersOnceAndCanBeWithdrawn) {
    std::vector<std::string> j;
    Probe watcher(nullptr, "watcher", j);
    Probe quiet(nullptr, "quiet", j);
    auto* target = new Probe(nullptr, "target", j);
    auto* other = new Probe(nullptr, "other", j);
    target->FreeNotification(&watcher);
    target->FreeNotification(&watcher); // no double subscription
    target->FreeNotification(&quiet);
    target->RemoveFreeNotification(&quiet);
    j.clear();

    delete target;
    const std::vector<std::string> expected = {"watcher -target", "free target"};
    EXPECT_EQ(j, expected);

    // The subscription ended with the target: deleting the watcher later must not
    // reach the freed target. Subscriptions go both ways.
    other->FreeNotification(&watcher);
    j.clear();
    delete other;
    EXPECT_EQ(j, (std::vector<std::string>{"watcher -other", "free other"}));
}

TEST(RuntimeComponent, SubscriberDeletedFirstIsForgotten) {
    std::vector<std::string> j;
    Probe target(nullptr, "target", j);
    auto* watcher = new Probe(nullptr, "watcher", j);
    target.FreeNotification(watcher);
    delete watcher; // target hears of it and forgets the watcher
    EXPECT_EQ(j.front(), "target -watcher");
    j.clear();
    // Destroying the target now must not call into the freed watcher (ASan would see it).
}

TEST(RuntimeComponent, NamesAreUniqueAmongSiblings) {
    std::vector<std::string> j;
    Probe owner(nullptr, "owner", j);
    auto* a = new Probe(&owner, "a", j);
    auto* b = new Probe(&owner, "b", j);
    a->SetName("Button1");
    EXPECT_EQ(owner.FindComponent("button1"), a);
    EXPECT_EQ(MessageOf<EComponentError>([&] { b->SetName("BUTTON1"); }),
              "A component named BUTTON1 already exists");
    EXPECT_EQ(b->Name(), "");
    a->SetName("Button1"); // renaming to its own name is fine
    b->SetName("Button2");
    EXPECT_EQ(owner.FindComponent("Button2"), b);
    EXPECT_EQ(owner.FindComponent("Button3"), nullptr);
    b->SetTag(14);
    EXPECT_EQ(b->Tag(), 14);
}

TEST(RuntimeComponent, DestroyingStateIsSetOnTheWholeTreeBeforeAnyChildGoes) {
    struct Watch : TComponent {
        explicit Watch(TComponent* owner, bool* sawOwnerDestroying)
            : TComponent(owner), FSaw(sawOwnerDestroying) {}
        ~Watch() override {
            if (FSaw) *FSaw = (ComponentState() & csDestroying) && Owner() == nullptr;
        }
        bool* FSaw;
    };
    bool childSaw = false;
    auto* root = new Watch(nullptr, nullptr);
    new Watch(root, &childSaw);
    EXPECT_EQ(root->ComponentState() & csDestroying, 0u);
    delete root;
    EXPECT_TRUE(childSaw) << "child must be marked destroying and detached when freed";
}
