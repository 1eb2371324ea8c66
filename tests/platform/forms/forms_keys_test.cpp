// Keyboard input as a person types it: Enter and Esc on the form, accelerators,
// typing into an edit box, moving a trackbar by keys and by the mouse.

#include "FormsTestSupport.h"

#include <QApplication>
#include <QSlider>
#include <QStyle>
#include <QTest>

namespace vt::test {
namespace {

class KeysTest : public FormsTest {
protected:
    void SetUp() override {
        FormsTest::SetUp();
        MakeForm(240, 120);
        Edit = new TEdit(Form.get());
        Edit->SetParent(Form.get());
        Edit->SetBounds(8, 8, 100, 24);
        Show = new TButton(Form.get());
        Show->SetParent(Form.get());
        Show->SetBounds(120, 8, 60, 25);
        Show->SetCaption("&Show");
        Show->SetDefault(true);
        Show->OnClick = [this](TObject*) { Log += "show;"; };
        Abort = new TButton(Form.get());
        Abort->SetParent(Form.get());
        Abort->SetBounds(120, 40, 60, 25);
        Abort->SetCaption("&Abort");
        Abort->SetCancel(true);
        Abort->OnClick = [this](TObject*) { Log += "abort;"; };
    }

    TEdit* Edit = nullptr;
    TButton* Show = nullptr;
    TButton* Abort = nullptr;
    std::string Log;
};

TEST_F(KeysTest, EnterPressesTheDefaultButtonAndEscOnlyAVisibleCancelButton) {
    ShowAndActivate(Form.get());
    Edit->SetFocus();
    ASSERT_TRUE(Edit->Focused());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Enter); // the keypad's Enter
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    EXPECT_EQ(Log, "show;show;abort;");

    Log.clear();
    Abort->Hide();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    EXPECT_EQ(Log, ""); // a hidden cancel button is not pressed
    Show->SetEnabled(false);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    EXPECT_EQ(Log, ""); // nor a disabled default button
    EXPECT_TRUE(Errors.empty());
}

TEST_F(KeysTest, EnterOnAFocusedButtonPressesThatButton) {
    ShowAndActivate(Form.get());
    Abort->SetFocus();
    ASSERT_TRUE(Abort->Focused());
    QTest::keyClick(Abort->Handle(), Qt::Key_Return);
    EXPECT_EQ(Log, "abort;");
}

TEST_F(KeysTest, AcceleratorLettersPressTheirButtons) {
    ShowAndActivate(Form.get());
    Edit->SetFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_A, Qt::AltModifier);
    ASSERT_TRUE(WaitFor([this] { return Log == "abort;"; })) << Log;
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_S, Qt::AltModifier);
    ASSERT_TRUE(WaitFor([this] { return Log == "abort;show;"; })) << Log;
    // The "&" is not part of what the button shows; "&&" shows one "&".
    EXPECT_EQ(vt::StripAccelChars("&Show"), "Show");
    EXPECT_EQ(vt::StripAccelChars("S&P 500"), "SP 500");
    EXPECT_EQ(vt::StripAccelChars("S&&P"), "S&P");
}

TEST_F(KeysTest, TypingRaisesChangeForEveryCharacterAndTheTextIsEightBit) {
    std::vector<std::string> seen;
    Edit->OnChange = [&](TObject* Sender) {
        EXPECT_EQ(Sender, Edit);
        seen.push_back(Edit->Text());
    };
    Edit->SetText("");
    ShowAndActivate(Form.get());
    Edit->SetFocus();
    QTest::keyClicks(Edit->Handle(), "IBM");
    EXPECT_EQ(seen, (std::vector<std::string>{"I", "IB", "IBM"}));
    QTest::keyClick(Edit->Handle(), Qt::Key_Backspace);
    EXPECT_EQ(Edit->Text(), "IB");
    // Set by code: raises the change too, once; the same text again raises nothing.
    seen.clear();
    Edit->SetText("caf\xE9");
    Edit->SetText("caf\xE9");
    EXPECT_EQ(seen, (std::vector<std::string>{"caf\xE9"}));
    EXPECT_EQ(Edit->Text(), "caf\xE9");
}

TEST_F(KeysTest, ChangeHandlerMayRewriteTheText) {
    // As the index prefix does: the handler's own change finds nothing more to do.
    int calls = 0;
    Edit->OnChange = [&](TObject*) {
        ++calls;
        const std::string text = Edit->Text();
        if (!text.empty() && text[0] == '^') Edit->SetText("_" + text.substr(1, 5));
    };
    ShowAndActivate(Form.get());
    Edit->SetText("");
    Edit->SetFocus();
    calls = 0;
    QTest::keyClicks(Edit->Handle(), "^");
    EXPECT_EQ(Edit->Text(), "_");
    EXPECT_EQ(calls, 2);
}

TEST_F(KeysTest, SelectionCountsFromZeroAndClears) {
    Edit->SetText("SYMBOL");
    Edit->SelectAll();
    EXPECT_EQ(Edit->SelStart(), 0);
    EXPECT_EQ(Edit->SelLength(), 6);
    Edit->SetSelStart(2);
    Edit->SetSelLength(3);
    EXPECT_EQ(Edit->SelText(), "MBO");
    Edit->SetSelLength(0);
    EXPECT_EQ(Edit->SelLength(), 0);
    EXPECT_EQ(Edit->SelStart(), 2);
    EXPECT_EQ(Edit->Text(), "SYMBOL");
}

TEST_F(KeysTest, KeyDownSeesVirtualKeysAndCanSwallowThem) {
    std::vector<WORD> keys;
    Edit->OnKeyDown = [&](TObject*, WORD& Key, TShiftState) {
        keys.push_back(Key);
        if (Key == VK_RETURN) Key = 0; // taken: the default button stays unpressed
    };
    ShowAndActivate(Form.get());
    Edit->SetFocus();
    QTest::keyClick(Edit->Handle(), Qt::Key_Left);
    QTest::keyClick(Edit->Handle(), Qt::Key_A);
    QTest::keyClick(Edit->Handle(), Qt::Key_Return);
    EXPECT_EQ(keys, (std::vector<WORD>{VK_LEFT, 'A', VK_RETURN}));
    EXPECT_EQ(Log, "");
}

TEST_F(KeysTest, TrackBarMovesByArrowsPagesAndClicksAndReportsEveryChange) {
    auto* bar = new TTrackBar(Form.get());
    bar->SetParent(Form.get());
    bar->SetBounds(8, 72, 89, 33);
    bar->SetRange(1, 3);
    bar->SetPageSize(1);
    bar->SetTickMarks(tmBoth);
    std::vector<int> positions;
    bar->OnChange = [&](TObject*) { positions.push_back(bar->Position()); };
    EXPECT_EQ(bar->Position(), 1);
    EXPECT_EQ(static_cast<QSlider*>(bar->Handle())->tickPosition(), QSlider::TicksBothSides);
    ShowAndActivate(Form.get());
    bar->SetFocus();
    QTest::keyClick(bar->Handle(), Qt::Key_Right);
    QTest::keyClick(bar->Handle(), Qt::Key_Right);
    QTest::keyClick(bar->Handle(), Qt::Key_Right); // already at the maximum
    QTest::keyClick(bar->Handle(), Qt::Key_Home);
    EXPECT_EQ(positions, (std::vector<int>{2, 3, 1}));

    // A click at the right end moves the thumb towards it.
    positions.clear();
    QTest::mouseClick(bar->Handle(), Qt::LeftButton, {},
                      QPoint(bar->Width() - 3, bar->Height() / 2));
    ASSERT_TRUE(WaitFor([&] { return bar->Position() > 1; }));
    EXPECT_FALSE(positions.empty());
    EXPECT_EQ(positions.back(), bar->Position());
    bar->SetPosition(7); // kept within the range
    EXPECT_EQ(bar->Position(), 3);
}

} // namespace
} // namespace vt::test
