// Quick-symbol buttons, drag and drop of the symbol box, index prefixes, row clearing,
// hints and the link labels, driven with the keyboard and the mouse.
#include "WindowFixture.h"

#include "support/Peers.h"
#include "support/Pump.h"

#include <QTest>
#include <QWidget>

using vt::test::AppWindow;
using vt::test::SurfaceOf;
using vt::test::TCannedServer;

TEST_F(AppWindow, IndexPrefixesFollowTheTrackbar) {
    THttpGetForm& form = Open("[Data]\nURL=^GSPC\n");
    QWidget* bar = form.tb1->Handle();
    QTest::keyClick(bar, Qt::Key_End);
    EXPECT_EQ(form.tb1->Position(), 3);
    EXPECT_EQ(form.URLEdit->Text(), "_GSPC");
    QTest::keyClick(bar, Qt::Key_Left);
    EXPECT_EQ(form.URLEdit->Text(), "^GSPC");
    QTest::keyClick(bar, Qt::Key_End);

    // At position 3 a typed "^" turns into "_" at once, before the next key.
    TypeSymbol("^DJI");
    EXPECT_EQ(form.URLEdit->Text(), "_DJI");
    // A whole text put in at once keeps five characters after the prefix.
    form.URLEdit->SetText("^ABCDEFGH");
    EXPECT_EQ(form.URLEdit->Text(), "_ABCDE");
    TypeSymbol("A^B");
    EXPECT_EQ(form.URLEdit->Text(), "A^B");
    QTest::keyClick(bar, Qt::Key_Home);
    EXPECT_EQ(form.URLEdit->Text(), "A^B");
    // At position 1 a typed "_" stays: only the trackbar turns it back.
    TypeSymbol("_DJI");
    EXPECT_EQ(form.URLEdit->Text(), "_DJI");
}

TEST_F(AppWindow, AFreeButtonTakesTheSymbolAndAFilledOneFetches) {
    TCannedServer proxy({{{"HTTP/1.0 404 Not Found\r\n\r\n"}}});
    THttpGetForm& form = Open(ProxySettings(proxy, "IBM"));
    ClickOn(form.Buttons[3]);
    EXPECT_EQ(form.Buttons[3]->Caption(), "IBM");
    EXPECT_EQ(proxy.Connections(), 0);

    TypeSymbol("");
    ClickOn(form.Buttons[4]); // an empty symbol box leaves the button free
    EXPECT_EQ(form.Buttons[4]->Caption(), "");

    vt::test::Watchdog watchdog(20, "quick-symbol fetch");
    ClickOn(form.Buttons[3]);
    EXPECT_EQ(form.URLEdit->Text(), "IBM");
    ASSERT_EQ(proxy.Requests().size(), 1u);
    EXPECT_EQ(proxy.Requests()[0].substr(0, 40), "GET http://chart.yahoo.com/t?s=IBM HTTP/");
    EXPECT_EQ(form.InfoLabel->Caption(), "Failed : 404 Not Found");
}

TEST_F(AppWindow, DraggingTheSymbolBoxOntoAButtonStoresTheWholeSymbol) {
    THttpGetForm& form = Open("[Data]\nURL=ORCL\n[vtrx]\nbutton10=OLD\n");
    QWidget* edit = form.URLEdit->Handle();
    form.URLEdit->SetSelStart(0);
    form.URLEdit->SetSelLength(2); // a part is selected; the whole text travels

    int bx = -1, by = -1;
    QWidget* target = SurfaceOf(form.Buttons[9], bx, by);
    const QPoint start(10, 12);
    QTest::mousePress(edit, Qt::LeftButton, {}, start);
    QTest::mouseMove(edit, start + QPoint(3, 0)); // under the threshold: no drag yet
    EXPECT_FALSE(form.URLEdit->Dragging());
    QTest::mouseMove(edit, start + QPoint(8, 0));
    EXPECT_TRUE(form.URLEdit->Dragging());
    const QPoint over = edit->mapFromGlobal(target->mapToGlobal(QPoint(bx, by)));
    QTest::mouseMove(edit, over);
    QTest::mouseRelease(edit, Qt::LeftButton, {}, over);

    EXPECT_FALSE(form.URLEdit->Dragging());
    EXPECT_EQ(form.Buttons[9]->Caption(), "ORCL"); // replaced
    EXPECT_EQ(form.URLEdit->SelLength(), 0);
    EXPECT_EQ(form.Buttons[8]->Caption(), "");
}

TEST_F(AppWindow, ADragThatEndsNowhereClearsTheSelection) {
    THttpGetForm& form = Open("[Data]\nURL=ORCL\n");
    QWidget* edit = form.URLEdit->Handle();
    form.URLEdit->SelectAll();
    int px = -1, py = -1;
    QWidget* picture = SurfaceOf(form.Image1, px, py);
    const QPoint start(10, 12);
    QTest::mousePress(edit, Qt::LeftButton, {}, start);
    QTest::mouseMove(edit, start + QPoint(0, 9));
    const QPoint over = edit->mapFromGlobal(picture->mapToGlobal(QPoint(px, py)));
    QTest::mouseMove(edit, over);
    QTest::mouseRelease(edit, Qt::LeftButton, {}, over);
    EXPECT_EQ(form.URLEdit->SelLength(), 0);
    for (TButton* button : form.Buttons)
        EXPECT_EQ(button->Caption(), "");
}

TEST_F(AppWindow, DoubleClicksClearARowOrTheSymbol) {
    std::string settings = "[Data]\nURL=IBM\n[vtrx]\n";
    for (int i = 1; i <= 14; ++i)
        settings += "button" + std::to_string(i) + "=S" + std::to_string(i) + "\n";
    THttpGetForm& form = Open(settings);

    DoubleClickOn(form.Panel4, 3, 12); // the row's background, left of Button1
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(form.Buttons[i]->Caption(), "") << i;
    for (int i = 7; i < 14; ++i)
        EXPECT_EQ(form.Buttons[i]->Caption(), "S" + std::to_string(i + 1));
    DoubleClickOn(form.Panel5, 300, 12);
    for (TButton* button : form.Buttons)
        EXPECT_EQ(button->Caption(), "");

    DoubleClickOn(form.URLEdit);
    EXPECT_EQ(form.URLEdit->Text(), "");
}

TEST_F(AppWindow, AButtonDropsItsHintOnceItHoldsASymbol) {
    THttpGetForm& form = Open("[vtrx]\nbutton2=IBM\n");
    const std::string hint = "Drag and drop symbol from text to button.";
    int x = -1, y = -1;
    QTest::mouseMove(SurfaceOf(form.Buttons[0], x, y), QPoint(x, y));
    EXPECT_EQ(form.Buttons[0]->Hint(), hint);
    x = y = -1;
    QTest::mouseMove(SurfaceOf(form.Buttons[1], x, y), QPoint(x, y));
    EXPECT_EQ(form.Buttons[1]->Hint(), "");
    // Emptied again, it stays without a hint for the rest of the run.
    DoubleClickOn(form.Panel4, 3, 12);
    QTest::mouseMove(SurfaceOf(form.Buttons[1], x, y), QPoint(x, y + 1));
    EXPECT_EQ(form.Buttons[1]->Hint(), "");
}

TEST_F(AppWindow, LinksOpenTheirPagesInTheBrowser) {
    THttpGetForm& form = Open("[Data]\nURL=^GSPC\n");
    ClickOn(form.Label6);
    ClickOn(form.Label7);
    ClickOn(form.Label8);
    ClickOn(form.Label9);
    ClickOn(form.Label1);
    QTest::keyClick(form.tb1->Handle(), Qt::Key_End);
    DoubleClickOn(form.Image1);
    const std::vector<std::string> expected{
        "http://finance.yahoo.com/?u",
        "http://finance.yahoo.com/q?d=t&s=^DJI",
        "http://finance.yahoo.com/q?d=t&s=^IXIC",
        "http://finance.yahoo.com/q?d=t&s=^GSPC",
        "http://www.vantrel.example", // "www." without a scheme opens as http
        "http://finance.yahoo.com/q?d=t&s=_GSPC",
    };
    EXPECT_EQ(FOpened, expected);
}

TEST_F(AppWindow, AQuotePageAddressTooLongForItsBufferOpensNothing) {
    THttpGetForm& form = Open();
    const std::string prefix = "http://finance.yahoo.com/q?d=t&s=";
    const std::string fits(79 - prefix.size(), 'F');
    form.URLEdit->SetText(fits);
    DoubleClickOn(form.Image1);
    form.URLEdit->SetText(fits + "X");
    DoubleClickOn(form.Image1);
    form.URLEdit->SetText(std::string(5000, 'Y'));
    DoubleClickOn(form.Image1);
    EXPECT_EQ(FOpened, std::vector<std::string>{prefix + fits});
    EXPECT_TRUE(FErrors.empty());
}
