#include "platform/runtime/Exceptions.h"
#include "platform/runtime/Streams.h"
#include "platform/runtime/StringList.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace {

template <typename E, typename F> std::string MessageOf(F&& f) {
    try {
        f();
    } catch (const E& e) {
        return e.Message();
    }
    return "no error";
}

std::vector<std::string> All(const TStrings& s) {
    std::vector<std::string> v;
    for (int i = 0; i < s.Count(); ++i)
        v.push_back(s[i]);
    return v;
}

using Lines = std::vector<std::string>;

} // namespace

TEST(RuntimeStringList, TextSplitsAtEveryKindOfLineBreak) {
    TStringList l;
    l.SetText("HTTP/1.0 200 OK\r\nServer: x\nA\rB\r\n\r\nbody");
    EXPECT_EQ(All(l), (Lines{"HTTP/1.0 200 OK", "Server: x", "A", "B", "", "body"}));
    l.SetText("one\r\ntwo\r\n");
    EXPECT_EQ(All(l), (Lines{"one", "two"})) << "a final break adds no empty line";
    l.SetText("\n\n");
    EXPECT_EQ(All(l), (Lines{"", ""}));
    l.SetText("");
    EXPECT_EQ(l.Count(), 0);
    l.SetText("a\n\rb"); // LF then a lone CR: two breaks
    EXPECT_EQ(All(l), (Lines{"a", "", "b"}));

    l.SetText("x\ny");
    EXPECT_EQ(l.Text(), "x\r\ny\r\n");
    TStringList empty;
    EXPECT_EQ(empty.Text(), "");
}

TEST(RuntimeStringList, EditingAndIndexErrors) {
    TStringList l;
    EXPECT_EQ(l.Add("b"), 0);
    l.Insert(0, "a");
    l.Add("c");
    l.Delete(1);
    EXPECT_EQ(All(l), (Lines{"a", "c"}));
    l.SetStrings(1, "C");
    EXPECT_EQ(l.Strings(1), "C");
    EXPECT_EQ(l.IndexOf("c"), 1) << "case-blind";
    EXPECT_EQ(l.IndexOf("d"), -1);
    l.Exchange(0, 1);
    EXPECT_EQ(All(l), (Lines{"C", "a"}));

    EXPECT_EQ(MessageOf<EStringListError>([&] { l.Strings(2); }), "List index out of bounds (2)");
    EXPECT_EQ(MessageOf<EStringListError>([&] { l[-1]; }), "List index out of bounds (-1)");
    EXPECT_EQ(MessageOf<EStringListError>([&] { l.Delete(5); }), "List index out of bounds (5)");
    EXPECT_EQ(MessageOf<EStringListError>([&] { l.Insert(3, "x"); }),
              "List index out of bounds (3)");
    EXPECT_EQ(MessageOf<EStringListError>([&] { l.Objects(9); }), "List index out of bounds (9)");
    EXPECT_EQ(All(l), (Lines{"C", "a"})) << "failed calls change nothing";
    l.Clear();
    EXPECT_EQ(l.Count(), 0);
}

TEST(RuntimeStringList, ObjectsTravelWithTheirStrings) {
    TObject one, two;
    TStringList l;
    l.AddObject("one", &one);
    l.AddObject("two", &two);
    l.Insert(0, "zero");
    EXPECT_EQ(l.Objects(0), nullptr);
    EXPECT_EQ(l.Objects(2), &two);
    EXPECT_EQ(l.IndexOfObject(&one), 1);
    TStringList copy;
    copy.Assign(l);
    EXPECT_EQ(All(copy), All(l));
    EXPECT_EQ(copy.Objects(1), &one);
    l.SetSorted(true);
    EXPECT_EQ(All(l), (Lines{"one", "two", "zero"}));
    EXPECT_EQ(l.Objects(0), &one);
    EXPECT_EQ(l.Objects(1), &two);
}

TEST(RuntimeStringList, NameValuePairs) {
    TStringList l;
    l.SetText("Host=www.example.com\nPort=80\nnovalue\nEmpty=");
    EXPECT_EQ(l.Values("host"), "www.example.com");
    EXPECT_EQ(l.Values("PORT"), "80");
    EXPECT_EQ(l.Values("missing"), "");
    EXPECT_EQ(l.Values("Empty"), "");
    EXPECT_EQ(l.Names(0), "Host");
    EXPECT_EQ(l.Names(2), "");
    EXPECT_EQ(l.ValueFromIndex(1), "80");
    l.SetValues("port", "8080");
    EXPECT_EQ(l.Strings(1), "port=8080");
    l.SetValues("New", "a=b");
    EXPECT_EQ(l.Values("new"), "a=b") << "only the first '=' separates";
    l.SetValues("Host", "");
    EXPECT_EQ(l.IndexOfName("Host"), -1) << "an empty value deletes the pair";
    EXPECT_EQ(l.Count(), 4);
}

TEST(RuntimeStringList, SortedListsFindAndHandleDuplicates) {
    TStringList l;
    l.SetSorted(true);
    l.Add("msft");
    l.Add("^DJI");
    l.Add("IBM");
    l.Add("ibm"); // dupIgnore by default, case-blind
    // Letters compare as upper case, so '^' (0x5E) sorts after them.
    EXPECT_EQ(All(l), (Lines{"IBM", "msft", "^DJI"}));
    int index = -1;
    EXPECT_TRUE(l.Find("MSFT", index));
    EXPECT_EQ(index, 1);
    EXPECT_FALSE(l.Find("JNJ", index));
    EXPECT_EQ(index, 1) << "where it would go";
    EXPECT_FALSE(l.Find("_", index));
    EXPECT_EQ(index, 3);
    EXPECT_EQ(l.IndexOf("Ibm"), 0);

    EXPECT_EQ(MessageOf<EStringListError>([&] { l.Insert(0, "x"); }),
              "Operation not allowed on sorted list");
    l.SetDuplicates(dupError);
    EXPECT_EQ(MessageOf<EStringListError>([&] { l.Add("MSFT"); }),
              "String list does not allow duplicates");
    l.SetDuplicates(dupAccept);
    EXPECT_EQ(l.Add("IBM"), 1); // after its equal
    EXPECT_EQ(l.Count(), 4);

    l.SetCaseSensitive(true);
    EXPECT_EQ(l.IndexOf("ibm"), -1);
    EXPECT_EQ(All(l), (Lines{"IBM", "IBM", "^DJI", "msft"})); // byte order now
}

TEST(RuntimeStringList, StreamsAndFilesRoundTrip) {
    TStringList l;
    l.SetText("first\nsecond line\n\nlast");
    TMemoryStream m;
    m.WriteBuffer("prefix|", 7);
    l.SaveToStream(&m);
    EXPECT_EQ(std::string(static_cast<const char*>(m.Memory()) + 7, m.Size() - 7),
              "first\r\nsecond line\r\n\r\nlast\r\n");
    m.SetPosition(7);
    TStringList back;
    back.Add("stale");
    back.LoadFromStream(&m); // from the position on, replacing the old content
    EXPECT_EQ(All(back), All(l));

    char tmpl[] = "/tmp/vt_strings_XXXXXX";
    ASSERT_NE(::mkdtemp(tmpl), nullptr);
    const std::string name = std::string(tmpl) + "/list.txt";
    l.SaveToFile(name);
    TStringList fromFile;
    fromFile.LoadFromFile(name);
    EXPECT_EQ(All(fromFile), All(l));
    EXPECT_EQ(MessageOf<EFOpenError>([&] { fromFile.LoadFromFile(name + ".none"); }),
              "Cannot open file " + name + ".none");
    EXPECT_EQ(All(fromFile), All(l)) << "a failed load keeps the list";
    std::filesystem::remove_all(tmpl);
}
