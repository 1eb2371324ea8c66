// Clicks and double-clicks where a person makes them: windowless labels and pictures
// get theirs through the parent, a panel's background is the panel's, a button's is
// the button's; the cursor over a link label; the error message box.

#include "FormsTestSupport.h"

#include "platform/runtime/Exceptions.h"

#include <QApplication>
#include <QMessageBox>
#include <QTest>
#include <QTimer>

namespace vt::test {
namespace {

class MouseTest : public FormsTest {
protected:
    void SetUp() override {
        FormsTest::SetUp();
        MakeForm(300, 150);
        Row = new TPanel(Form.get());
        Row->SetParent(Form.get());
        Row->SetBounds(0, 100, 300, 24);
        Row->OnDblClick = [this](TObject*) { Log += "row-dbl;"; };
        Button = new TButton(Form.get());
        Button->SetParent(Row);
        Button->SetBounds(6, 3, 40, 18);
        Button->OnClick = [this](TObject*) { Log += "button;"; };
        Link = new TLabel(Form.get());
        Link->SetParent(Form.get());
        Link->SetAutoSize(false);
        Link->SetBounds(10, 10, 60, 13);
        Link->SetCaption("Yahoo");
        Link->SetCursor(crAppStart);
        Link->OnClick = [this](TObject*) { Log += "link;"; };
        Picture = new TImage(Form.get());
        Picture->SetParent(Form.get());
        Picture->SetBounds(100, 10, 80, 60);
        Picture->OnDblClick = [this](TObject*) { Log += "picture-dbl;"; };
        Picture->OnClick = [this](TObject*) { Log += "picture;"; };
        Edit = new TEdit(Form.get());
        Edit->SetParent(Form.get());
        Edit->SetBounds(200, 10, 80, 24);
        Edit->SetText("IBM");
        Edit->OnDblClick = [this](TObject*) { Edit->SetText(""); };
        ShowAndActivate(Form.get());
    }

    TPanel* Row = nullptr;
    TButton* Button = nullptr;
    TLabel* Link = nullptr;
    TImage* Picture = nullptr;
    TEdit* Edit = nullptr;
    std::string Log;
};

TEST_F(MouseTest, WindowlessControlsGetTheirClicksThroughTheParent) {
    QTest::mouseClick(Form->Handle(), Qt::LeftButton, {}, QPoint(20, 15));
    EXPECT_EQ(Log, "link;");
    Log.clear();
    QTest::mouseDClick(Form->Handle(), Qt::LeftButton, {}, QPoint(140, 40));
    EXPECT_EQ(Log, "picture;picture-dbl;"); // the first press is a click, the second a double
    Log.clear();
    QTest::mouseClick(Form->Handle(), Qt::LeftButton, {}, QPoint(250, 80)); // nothing there
    // Pressed on the label, released elsewhere: no click.
    QTest::mousePress(Form->Handle(), Qt::LeftButton, {}, QPoint(20, 15));
    QTest::mouseRelease(Form->Handle(), Qt::LeftButton, {}, QPoint(90, 50));
    EXPECT_EQ(Log, "");
    // A disabled label hears nothing.
    Link->SetEnabled(false);
    QTest::mouseClick(Form->Handle(), Qt::LeftButton, {}, QPoint(20, 15));
    EXPECT_EQ(Log, "");
}

TEST_F(MouseTest, AHandlerMayFreeItsOwnControl) {
    // Freed on the press: the release and the click find nothing of it.
    // (The handler lives in the control: it touches nothing of its own after the delete.)
    Link->OnMouseDown = [this](TObject*, TMouseButton, TShiftState, int, int) {
        TLabel* link = Link;
        Link = nullptr;
        delete link;
    };
    QTest::mouseClick(Form->Handle(), Qt::LeftButton, {}, QPoint(20, 15));
    EXPECT_EQ(Link, nullptr);
    EXPECT_EQ(Log, "");
    // Freed by its click, then double-clicked: nothing raised on the freed picture.
    Picture->OnClick = [this](TObject*) {
        Log += "picture;";
        TImage* picture = Picture;
        Picture = nullptr;
        delete picture;
    };
    QTest::mouseDClick(Form->Handle(), Qt::LeftButton, {}, QPoint(140, 40));
    EXPECT_EQ(Log, "picture;");
    EXPECT_EQ(Form->ControlAtPos(Point(140, 40)), nullptr);
}

TEST_F(MouseTest, ADoubleClickOnARowIsTheRowsOnlyOffItsButtons) {
    QTest::mouseDClick(Row->Handle(), Qt::LeftButton, {}, QPoint(150, 12));
    EXPECT_EQ(Log, "row-dbl;");
    Log.clear();
    QTest::mouseDClick(Button->Handle(), Qt::LeftButton, {}, QPoint(10, 9));
    EXPECT_EQ(Log.find("row-dbl"), std::string::npos) << Log;
    EXPECT_NE(Log.find("button;"), std::string::npos) << Log;
}

TEST_F(MouseTest, DoubleClickInTheEditBoxAndTheCursorOverALink) {
    QTest::mouseDClick(Edit->Handle(), Qt::LeftButton, {}, QPoint(10, 12));
    EXPECT_EQ(Edit->Text(), "");
    QTest::mouseMove(Form->Handle(), QPoint(20, 15));
    EXPECT_EQ(Form->Handle()->cursor().shape(), Qt::BusyCursor); // arrow with hourglass
    QTest::mouseMove(Form->Handle(), QPoint(250, 80));
    EXPECT_EQ(Form->Handle()->cursor().shape(), Qt::ArrowCursor);
}

TEST_F(MouseTest, TheErrorDisplayIsAnErrorBoxTitledWithTheApplication) {
    bool seen = false;
    std::function<void()> inspect = [&] {
        QTimer::singleShot(20, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box) return inspect(); // not up yet
            EXPECT_EQ(box->icon(), QMessageBox::Critical);
            EXPECT_EQ(box->windowTitle(), "Bren Vik Vantrel");
            EXPECT_EQ(box->text(), "Cannot create file /x.gif.");
            seen = true;
            box->accept();
        });
    };
    Application.SetErrorDisplay(vt::ShowErrorMessage);
    Application.SetTitle("Bren Vik Vantrel");
    inspect();
    Button->OnClick = [](TObject*) { throw EInvalidOperation("Cannot create file /x.gif"); };
    QTest::mouseClick(Button->Handle(), Qt::LeftButton, {}, QPoint(10, 9));
    EXPECT_TRUE(seen);
}

} // namespace
} // namespace vt::test
