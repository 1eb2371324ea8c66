// The framework's drag and drop driven with the pointer: an edit box dragged onto a
// button, as the quick-symbol buttons take a symbol.

#include "FormsTestSupport.h"

#include <QTest>

namespace vt::test {
namespace {

struct DragLog {
    std::vector<TDragState> States;
    std::vector<std::string> Drops;
    std::vector<TObject*> EndTargets;
    int Clicks = 0;
};

class DragTest : public FormsTest {
protected:
    void SetUp() override {
        FormsTest::SetUp();
        MakeForm(300, 120);
        Edit = new TEdit(Form.get());
        Edit->SetParent(Form.get());
        Edit->SetBounds(10, 10, 80, 24);
        Edit->SetText("IBM");
        Edit->OnMouseDown = [this](TObject*, TMouseButton, TShiftState, int, int) {
            Edit->BeginDrag(false);
        };
        Edit->OnEndDrag = [this](TObject* Sender, TObject* Target, int, int) {
            EXPECT_EQ(Sender, Edit);
            Log.EndTargets.push_back(Target);
        };
        Button = new TButton(Form.get());
        Button->SetParent(Form.get());
        Button->SetBounds(150, 10, 40, 18);
        Button->OnClick = [this](TObject*) { ++Log.Clicks; };
        Button->OnDragOver = [this](TObject*, TObject* Source, int X, int Y, TDragState State,
                                    bool& Accept) {
            Log.States.push_back(State);
            EXPECT_TRUE(X >= 0 && Y >= 0 && X < 40 && Y < 18) << X << "," << Y;
            Accept = dynamic_cast<TEdit*>(Source) != nullptr && !Refuse;
        };
        Button->OnDragDrop = [this](TObject* Sender, TObject* Source, int, int) {
            auto* edit = dynamic_cast<TEdit*>(Source);
            ASSERT_NE(edit, nullptr);
            static_cast<TButton*>(Sender)->SetCaption(edit->Text());
            Log.Drops.push_back(edit->Text());
        };
        ShowAndActivate(Form.get());
    }

    QPoint InEdit(int dx = 0, int dy = 0) { return QPoint(20 + dx, 12 + dy); }
    QPoint OnButton() { return QPoint(20, 9); }

    TEdit* Edit = nullptr;
    TButton* Button = nullptr;
    bool Refuse = false;
    DragLog Log;
};

TEST_F(DragTest, DragStartsOnlyAfterFivePixelsAndDropsOnAnAcceptingButton) {
    QTest::mousePress(Edit->Handle(), Qt::LeftButton, {}, InEdit());
    QTest::mouseMove(Edit->Handle(), InEdit(4, -4)); // under 5 pixels either way
    EXPECT_FALSE(Edit->Dragging());
    QTest::mouseMove(Edit->Handle(), InEdit(5, 0));
    EXPECT_TRUE(Edit->Dragging());
    QTest::mouseMove(Button->Handle(), OnButton());
    QTest::mouseMove(Button->Handle(), OnButton() + QPoint(2, 1));
    QTest::mouseRelease(Button->Handle(), Qt::LeftButton, {}, OnButton() + QPoint(2, 1));
    EXPECT_FALSE(Edit->Dragging());
    EXPECT_EQ(Log.States, (std::vector<TDragState>{dsDragEnter, dsDragMove}));
    EXPECT_EQ(Log.Drops, (std::vector<std::string>{"IBM"}));
    EXPECT_EQ(Button->Caption(), "IBM");
    EXPECT_EQ(Log.EndTargets, (std::vector<TObject*>{Button}));
    EXPECT_EQ(Log.Clicks, 0); // a drop is no click
    EXPECT_TRUE(Errors.empty());
}

TEST_F(DragTest, AClickWithoutMovementStaysAClickInTheBox) {
    QTest::mouseClick(Edit->Handle(), Qt::LeftButton, {}, InEdit());
    QTest::mouseMove(Button->Handle(), OnButton()); // the button is up: no drag
    EXPECT_FALSE(Edit->Dragging());
    EXPECT_TRUE(Log.States.empty());
    EXPECT_TRUE(Log.EndTargets.empty());
    EXPECT_TRUE(Edit->Focused());
    QTest::mouseClick(Button->Handle(), Qt::LeftButton, {}, OnButton());
    EXPECT_EQ(Log.Clicks, 1);
}

TEST_F(DragTest, DropWhereNothingAcceptsEndsWithoutTarget) {
    QTest::mousePress(Edit->Handle(), Qt::LeftButton, {}, InEdit());
    QTest::mouseMove(Edit->Handle(), InEdit(0, 8));
    ASSERT_TRUE(Edit->Dragging());
    QTest::mouseMove(Button->Handle(), OnButton()); // over the button, then away
    QTest::mouseMove(Form.get()->Handle(), QPoint(250, 100));
    QTest::mouseRelease(Form.get()->Handle(), Qt::LeftButton, {}, QPoint(250, 100));
    EXPECT_EQ(Log.States, (std::vector<TDragState>{dsDragEnter, dsDragLeave}));
    EXPECT_TRUE(Log.Drops.empty());
    EXPECT_EQ(Log.EndTargets, (std::vector<TObject*>{nullptr}));
    EXPECT_EQ(Button->Caption(), "");
}

TEST_F(DragTest, ARefusingButtonTakesNoDropAndEscCancels) {
    Refuse = true;
    QTest::mousePress(Edit->Handle(), Qt::LeftButton, {}, InEdit());
    QTest::mouseMove(Edit->Handle(), InEdit(10, 0));
    QTest::mouseMove(Button->Handle(), OnButton());
    QTest::mouseRelease(Button->Handle(), Qt::LeftButton, {}, OnButton());
    EXPECT_TRUE(Log.Drops.empty());
    EXPECT_EQ(Log.EndTargets, (std::vector<TObject*>{nullptr}));

    Refuse = false;
    Log = {};
    QTest::mousePress(Edit->Handle(), Qt::LeftButton, {}, InEdit());
    QTest::mouseMove(Edit->Handle(), InEdit(10, 0));
    QTest::mouseMove(Button->Handle(), OnButton());
    ASSERT_TRUE(Edit->Dragging());
    QTest::keyClick(Edit->Handle(), Qt::Key_Escape);
    EXPECT_FALSE(Edit->Dragging());
    QTest::mouseRelease(Button->Handle(), Qt::LeftButton, {}, OnButton());
    EXPECT_TRUE(Log.Drops.empty());
    EXPECT_EQ(Log.States, (std::vector<TDragState>{dsDragEnter, dsDragLeave}));
    EXPECT_EQ(Log.EndTargets, (std::vector<TObject*>{nullptr}));
}

TEST_F(DragTest, ImmediateDragAndDropOnAWindowlessControl) {
    auto* label = new TLabel(Form.get());
    label->SetParent(Form.get());
    label->SetAutoSize(false);
    label->SetBounds(200, 60, 60, 20);
    std::vector<TPoint> drops;
    label->OnDragOver = [](TObject*, TObject*, int, int, TDragState, bool&) {};
    label->OnDragDrop = [&](TObject*, TObject*, int X, int Y) { drops.push_back(Point(X, Y)); };
    Edit->OnMouseDown = [this](TObject*, TMouseButton, TShiftState, int, int) {
        Edit->BeginDrag(true);
    };
    QTest::mousePress(Edit->Handle(), Qt::LeftButton, {}, InEdit());
    EXPECT_TRUE(Edit->Dragging()); // at once, without moving
    QTest::mouseMove(Form->Handle(), QPoint(210, 65));
    QTest::mouseRelease(Form->Handle(), Qt::LeftButton, {}, QPoint(210, 65));
    EXPECT_EQ(drops, (std::vector<TPoint>{Point(10, 5)})); // in the label's coordinates
    EXPECT_EQ(Log.EndTargets, (std::vector<TObject*>{label}));
}

} // namespace
} // namespace vt::test
