// Placement: docking by Align (the chart window's own layout), re-layout on resize,
// bevel insets, the form's bounds as its outer frame, and the tab order per parent.

#include "FormsTestSupport.h"
#include "platform/forms/QtForms.h"

#include <QApplication>
#include <QFontInfo>
#include <QTest>

namespace vt::test {
namespace {

TRect BoundsOf(const TControl* C) {
    return C->BoundsRect();
}

class LayoutTest : public FormsTest {
protected:
    // The chart window's panels: a column docked right, the picture area filling the
    // rest, two button rows docked at the bottom.
    void BuildChartLayout() {
        MakeForm(309, 169);
        Panel1 = Panel(Form.get(), alRight, 96, 0);
        Panel3 = Panel(Form.get(), alBottom, 0, 50);
        Panel2 = Panel(Form.get(), alClient, 0, 0);
        Panel4 = Panel(Panel3, alTop, 0, 24);
        Panel5 = Panel(Panel3, alBottom, 0, 24);
        for (TPanel* row : {Panel4, Panel5}) {
            row->SetBevelInner(bvLowered);
            row->SetBevelOuter(bvLowered);
        }
        Image1 = new TImage(Form.get());
        Image1->SetParent(Panel2);
        Image1->SetAlign(alClient);
    }
    TPanel* Panel(TWinControl* Parent, TAlign Align, int Width, int Height) {
        auto* panel = new TPanel(Form.get());
        panel->SetParent(Parent);
        if (Width) panel->SetWidth(Width);
        if (Height) panel->SetHeight(Height);
        panel->SetAlign(Align);
        return panel;
    }

    TPanel *Panel1 = nullptr, *Panel2 = nullptr, *Panel3 = nullptr, *Panel4 = nullptr,
           *Panel5 = nullptr;
    TImage* Image1 = nullptr;
};

TEST_F(LayoutTest, DockedPanelsTakeTheDesignPlaces) {
    BuildChartLayout();
    EXPECT_EQ(BoundsOf(Panel1), Bounds(213, 0, 96, 119));
    EXPECT_EQ(BoundsOf(Panel2), Bounds(0, 0, 213, 119));
    EXPECT_EQ(BoundsOf(Panel3), Bounds(0, 119, 309, 50));
    EXPECT_EQ(BoundsOf(Image1), Bounds(1, 1, 211, 117)); // inside the raised bevel
    EXPECT_EQ(BoundsOf(Panel4), Bounds(1, 1, 307, 24));
    EXPECT_EQ(BoundsOf(Panel5), Bounds(1, 25, 307, 24));
    // The widgets sit where the controls say.
    EXPECT_EQ(Panel1->Handle()->geometry(), QRect(213, 0, 96, 119));
    EXPECT_EQ(Panel5->Handle()->geometry(), QRect(1, 25, 307, 24));
}

TEST_F(LayoutTest, ResizingTheWindowLaysTheDockedControlsOutAgain) {
    BuildChartLayout();
    int resizes = 0;
    Form->OnResize = [&](TObject*) { ++resizes; };
    ShowAndActivate(Form.get());
    // As the user drags the frame: the window system resizes the window.
    Form->Handle()->resize(409, 269);
    ASSERT_TRUE(WaitFor([&] { return Form->ClientWidth() == 409; }));
    EXPECT_EQ(Form->Width(), Form->Handle()->frameGeometry().width());
    EXPECT_EQ(BoundsOf(Panel1), Bounds(313, 0, 96, 219));
    EXPECT_EQ(BoundsOf(Panel2), Bounds(0, 0, 313, 219));
    EXPECT_EQ(BoundsOf(Panel3), Bounds(0, 219, 409, 50));
    EXPECT_EQ(BoundsOf(Image1), Bounds(1, 1, 311, 217));
    EXPECT_EQ(BoundsOf(Panel5), Bounds(1, 25, 407, 24));
    EXPECT_GE(resizes, 1);

    // Hiding a docked control gives its room to the others; showing takes it back.
    Panel1->Hide();
    EXPECT_EQ(BoundsOf(Panel2), Bounds(0, 0, 409, 219));
    Panel1->Show();
    EXPECT_EQ(BoundsOf(Panel2), Bounds(0, 0, 313, 219));
}

TEST_F(LayoutTest, FormBoundsAreTheOuterFrameAndSurviveShowing) {
    MakeForm(309, 169);
    Form->SetBounds(191, 111, 400, 300);
    EXPECT_EQ(Form->Left(), 191);
    EXPECT_EQ(Form->Top(), 111);
    EXPECT_EQ(Form->Width(), 400);
    EXPECT_EQ(Form->Height(), 300);
    ShowAndActivate(Form.get());
    const QRect frame = Form->Handle()->frameGeometry();
    EXPECT_EQ(frame, QRect(191, 111, 400, 300));
    EXPECT_EQ(Form->ClientWidth(), Form->Handle()->width());
    Form->SetWidth(500); // one coordinate at a time, as the settings are applied
    EXPECT_EQ(Form->Handle()->frameGeometry().width(), 500);
    EXPECT_EQ(Form->Left(), 191);
}

TEST_F(LayoutTest, TabMovesThroughEachParentsControlsInTabOrder) {
    MakeForm(300, 200);
    auto edit = [&](TWinControl* parent, int x, const char* name) {
        auto* e = new TEdit(Form.get());
        e->SetParent(parent);
        e->SetBounds(x, 4, 40, 24);
        e->SetName(name);
        return e;
    };
    TEdit* first = edit(Form.get(), 4, "First");
    auto* panel = new TPanel(Form.get());
    panel->SetParent(Form.get());
    panel->SetBounds(0, 40, 300, 40);
    TEdit* inner1 = edit(panel, 4, "Inner1");
    TEdit* inner0 = edit(panel, 50, "Inner0");
    TEdit* last = edit(Form.get(), 100, "Last");
    inner0->SetTabOrder(0);
    EXPECT_EQ(inner0->TabOrder(), 0);
    EXPECT_EQ(inner1->TabOrder(), 1);
    last->SetTabOrder(1); // before the panel
    EXPECT_EQ(panel->TabOrder(), 2);

    ShowAndActivate(Form.get());
    first->SetFocus();
    std::vector<std::string> visited;
    for (int i = 0; i < 4; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        visited.push_back(vt::ControlAbove(QApplication::focusWidget())->Name());
    }
    EXPECT_EQ(visited, (std::vector<std::string>{"Last", "Inner0", "Inner1", "First"}));
}

TEST_F(LayoutTest, ControlAtPosFindsTheTopmostVisibleChild) {
    MakeForm(200, 100);
    auto* label = new TLabel(Form.get());
    label->SetParent(Form.get());
    label->SetAutoSize(false);
    label->SetBounds(10, 10, 50, 20);
    auto* edit = new TEdit(Form.get());
    edit->SetParent(Form.get());
    edit->SetBounds(40, 10, 50, 20);
    EXPECT_EQ(Form->ControlAtPos(Point(15, 15)), label);
    EXPECT_EQ(Form->ControlAtPos(Point(45, 15)), edit); // windowed controls lie on top
    EXPECT_EQ(Form->ControlAtPos(Point(150, 80)), nullptr);
    label->Hide();
    EXPECT_EQ(Form->ControlAtPos(Point(15, 15)), nullptr);
}

TEST_F(LayoutTest, ParentFontIsFollowedUntilTheControlSetsItsOwn) {
    MakeForm(200, 100);
    auto* panel = new TPanel(Form.get());
    panel->SetParent(Form.get());
    auto* button = new TButton(Form.get());
    button->SetParent(panel);
    panel->Font()->SetName("Small Fonts");
    panel->Font()->SetHeight(-9);
    panel->Font()->SetStyle(fsBold);
    EXPECT_EQ(button->Font()->Name(), "Small Fonts");
    EXPECT_EQ(button->Font()->Height(), -9);
    EXPECT_TRUE(button->ParentFont());
    EXPECT_EQ(button->Handle()->font().pixelSize(), 9);
    EXPECT_TRUE(button->Handle()->font().bold());
    // A missing family falls back to DejaVu Sans.
    EXPECT_EQ(QFontInfo(button->Handle()->font()).family(), "DejaVu Sans");
    button->Font()->SetHeight(-13);
    EXPECT_FALSE(button->ParentFont());
    panel->Font()->SetHeight(-20);
    EXPECT_EQ(button->Font()->Height(), -13);
}

} // namespace
} // namespace vt::test
