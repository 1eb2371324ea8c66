// The window's control tree as the user meets it: placements, texts, fonts, hints, tab
// orders, hidden carriers, and what the first start shows.
#include "WindowFixture.h"

#include "http/HttpCli.h"
#include "platform/gdi/Picture.h"

using vt::test::AppWindow;

namespace {

void ExpectBounds(TControl* control, int left, int top, int width, int height) {
    SCOPED_TRACE(control->Name());
    EXPECT_EQ(control->Left(), left);
    EXPECT_EQ(control->Top(), top);
    EXPECT_EQ(control->Width(), width);
    EXPECT_EQ(control->Height(), height);
}

void ExpectFont(TControl* control, const char* name, int charHeight, TFontStyles style) {
    SCOPED_TRACE(control->Name());
    EXPECT_EQ(control->Font()->Name(), name);
    EXPECT_EQ(control->Font()->Height(), -charHeight);
    EXPECT_EQ(control->Font()->Style(), style);
}

} // namespace

TEST_F(AppWindow, FirstStartShowsTheDesignLayout) {
    THttpGetForm& form = Open();
    EXPECT_EQ(form.Caption(), "Brenvik Vantrel");
    EXPECT_EQ(form.ClientWidth(), 309);
    EXPECT_EQ(form.ClientHeight(), 169);
    EXPECT_EQ(form.BorderStyle(), bsSizeable);
    ExpectFont(&form, "Verdana", 13, 0);
    ASSERT_NE(form.Icon()->Graphic(), nullptr);
    EXPECT_EQ(form.Icon()->Width(), 32);
    EXPECT_EQ(form.Icon()->Height(), 32);

    // Docking: control column right, buttons below, the picture fills the rest.
    ExpectBounds(form.Panel1, 213, 0, 96, 119);
    ExpectBounds(form.Panel2, 0, 0, 213, 119);
    ExpectBounds(form.Image1, 1, 1, 211, 117);
    ExpectBounds(form.Panel3, 0, 119, 309, 50);
    ExpectBounds(form.Panel4, 1, 1, 307, 24);
    ExpectBounds(form.Panel5, 1, 25, 307, 24);
    EXPECT_TRUE(form.Image1->Stretch());

    // The column: symbol box and Show side by side, the trackbar sized under both.
    ExpectBounds(form.URLEdit, 2, 8, 45, 24);
    ExpectBounds(form.GetButton, 48, 8, 44, 25);
    ExpectBounds(form.tb1, 2, 32, 89, 33);
    ExpectBounds(form.AbortButton, 10, 40, 75, 17);
    ExpectBounds(form.Label1, 2, 64, 89, 13);
    ExpectBounds(form.Label6, 8, 80, 31, 13);
    ExpectBounds(form.Label9, 51, 96, 35, 13);
    const int lefts[7] = {6, 49, 91, 134, 177, 219, 262};
    for (int i = 0; i < 14; ++i)
        ExpectBounds(form.Buttons[i], lefts[i % 7], 3, 40, 18);

    EXPECT_EQ(form.GetButton->Caption(), "&Show");
    EXPECT_TRUE(form.GetButton->Default());
    EXPECT_EQ(form.AbortButton->Caption(), "&Abort");
    EXPECT_TRUE(form.AbortButton->Cancel());
    EXPECT_FALSE(form.AbortButton->Visible());
    EXPECT_EQ(form.Label1->Caption(), "vantrel.example");
    EXPECT_EQ(form.Label6->Caption(), "Yahoo");
    EXPECT_EQ(form.Label7->Caption(), "DOW");
    EXPECT_EQ(form.Label8->Caption(), "NASD");
    EXPECT_EQ(form.Label9->Caption(), "S&P 500");
    EXPECT_EQ(form.tb1->Min(), 1);
    EXPECT_EQ(form.tb1->Max(), 3);
    EXPECT_EQ(form.tb1->Position(), 1);
    EXPECT_EQ(form.tb1->PageSize(), 1);
    EXPECT_EQ(form.tb1->TickMarks(), tmBoth);
    EXPECT_EQ(form.Panel2->Alignment(), taLeftJustify);
    EXPECT_EQ(form.Panel2->Caption(), "");
    EXPECT_EQ(form.Panel4->BevelInner(), bvLowered);
    EXPECT_EQ(form.Panel5->BevelOuter(), bvLowered);
}

TEST_F(AppWindow, FontsHintsAndTabOrders) {
    THttpGetForm& form = Open();
    ExpectFont(form.GetButton, "Verdana", 12, 0);
    ExpectFont(form.AbortButton, "Verdana", 13, 0);
    ExpectFont(form.URLEdit, "Verdana", 13, 0);
    for (TLabel* link : {form.Label1, form.Label6, form.Label7, form.Label8, form.Label9}) {
        ExpectFont(link, "MS Sans Serif", 11, fsUnderline);
        EXPECT_EQ(link->Font()->Color(), clBlue);
        EXPECT_EQ(link->Cursor(), crAppStart);
        EXPECT_EQ(link->Alignment(), taCenter);
        EXPECT_FALSE(link->AutoSize());
    }
    for (TButton* button : form.Buttons) {
        ExpectFont(button, "Small Fonts", 9, fsBold);
        EXPECT_EQ(button->Caption(), "");
        EXPECT_EQ(button->Hint(), "Drag and drop symbol from text to button.");
        EXPECT_TRUE(button->ShowHint());
    }
    EXPECT_EQ(form.URLEdit->Hint(), "Enter symbol; assign to buton by clicking on empty button");
    EXPECT_TRUE(form.URLEdit->ShowHint());
    EXPECT_EQ(form.tb1->Hint(), "1 day to 1 year selector");
    EXPECT_TRUE(form.tb1->ShowHint());
    EXPECT_FALSE(form.Panel4->ShowHint());

    EXPECT_EQ(form.FileNameEdit->TabOrder(), 0);
    EXPECT_EQ(form.ProxyHostEdit->TabOrder(), 1);
    EXPECT_EQ(form.ProxyPortEdit->TabOrder(), 2);
    EXPECT_EQ(form.Panel1->TabOrder(), 3);
    EXPECT_EQ(form.Panel2->TabOrder(), 4);
    EXPECT_EQ(form.Panel3->TabOrder(), 5);
    EXPECT_EQ(form.AbortButton->TabOrder(), 0);
    EXPECT_EQ(form.GetButton->TabOrder(), 1);
    EXPECT_EQ(form.URLEdit->TabOrder(), 2);
    EXPECT_EQ(form.tb1->TabOrder(), 3);
    for (int i = 0; i < 14; ++i)
        EXPECT_EQ(form.Buttons[i]->TabOrder(), i % 7);
}

TEST_F(AppWindow, TheCarriersStayHiddenAndTheClientIsSetUp) {
    THttpGetForm& form = Open();
    for (TControl* carrier : std::initializer_list<TControl*>{
             form.Label2, form.Label3, form.Label4, form.Label5, form.InfoLabel, form.ProxyHostEdit,
             form.ProxyPortEdit, form.FileNameEdit}) {
        EXPECT_FALSE(carrier->Visible()) << carrier->Name();
        EXPECT_FALSE(carrier->Showing()) << carrier->Name();
    }
    EXPECT_EQ(form.InfoLabel->Caption(), "");
    EXPECT_EQ(form.Label2->Caption(), "Proxy");
    EXPECT_EQ(form.Label4->Caption(), "Port");
    EXPECT_EQ(form.Label5->Caption(), "FileName");
    ExpectBounds(form.GIF1, 64, 208, 105, 105);

    EXPECT_EQ(form.HttpCli1->Agent(), "Mozilla/3.0 (compatible)");
    EXPECT_EQ(form.HttpCli1->Accept(), "image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, */*");
    EXPECT_FALSE(form.HttpCli1->NoCache());
    EXPECT_EQ(form.HttpCli1->ContentTypePost(), "application/x-www-form-urlencoded");
    EXPECT_FALSE(form.HttpCli1->MultiThreaded());

    // First start: the defaults, an empty picture area.
    EXPECT_EQ(form.URLEdit->Text(), "vtrx");
    EXPECT_EQ(form.ProxyHostEdit->Text(), "");
    EXPECT_EQ(form.ProxyPortEdit->Text(), "80");
    EXPECT_EQ(form.FileNameEdit->Text(), "vtrx");
    EXPECT_EQ(form.Image1->Picture()->Graphic(), nullptr);
    EXPECT_EQ(form.Left(), 191);
    EXPECT_EQ(form.Top(), 111);
}
