// What the controls paint, read back from the window: stretched pictures loaded by
// extension, windowless controls and the background captured behind them, panel
// bevels and captions, labels; and hover hints.

#include "FormsTestSupport.h"

#include "platform/gdi/Bitmap.h"
#include "platform/gdi/Picture.h"
#include "platform/runtime/Exceptions.h"

#include <QHelpEvent>
#include <QTest>
#include <QToolTip>

namespace vt::test {
namespace {

QColor At(const QImage& Image, int X, int Y) {
    return QColor(Image.pixel(X, Y));
}

QColor Rgb(TColor C) {
    const auto rgb = static_cast<DWORD>(ColorToRGB(C));
    return QColor(GetRValue(rgb), GetGValue(rgb), GetBValue(rgb));
}

// A windowless control that fills itself with one colour and counts its paints; with
// CaptureInPaint it captures its background from inside Paint, as the animated
// control does for transparent pictures.
class TSwatch : public TGraphicControl {
public:
    using TGraphicControl::TGraphicControl;
    TColor Fill = clBlue;
    int Paints = 0;
    bool CaptureInPaint = false;
    TBitmap Captured;

protected:
    void Paint() override {
        ++Paints;
        if (CaptureInPaint) CaptureBackground(Captured);
        Canvas()->Brush()->SetColor(Fill);
        Canvas()->FillRect(ClientRect());
    }
};

class PaintTest : public FormsTest {
protected:
    TPanel* MakePanel(int W, int H, TColor Color) {
        auto* panel = new TPanel(Form.get());
        panel->SetParent(Form.get());
        panel->SetBounds(0, 0, W, H);
        panel->SetBevelOuter(bvNone);
        panel->SetColor(Color);
        return panel;
    }
};

TEST_F(PaintTest, ImageStretchesAGifAndAJpegLoadedByExtension) {
    MakeForm(200, 100);
    auto* image = new TImage(Form.get());
    image->SetParent(Form.get());
    image->SetBounds(10, 10, 80, 40);
    image->SetStretch(true);
    auto* jpeg = new TImage(Form.get());
    jpeg->SetParent(Form.get());
    jpeg->SetBounds(100, 10, 80, 40);
    jpeg->SetStretch(true);
    image->Picture()->LoadFromFile(FormsDataDir() + "/quadrants.gif");
    jpeg->Picture()->LoadFromFile(FormsDataDir() + "/quadrants.jpg");
    ShowAndActivate(Form.get());
    const QImage shot = Grab(Form.get());
    for (auto [left, tolerance] : {std::pair{10, 0}, std::pair{100, 40}}) {
        // Each 10 x 5 quadrant now covers 40 x 20 pixels; look at their middles.
        EXPECT_TRUE(Near(At(shot, left + 20, 20), QColor(255, 0, 0), tolerance)) << left;
        EXPECT_TRUE(Near(At(shot, left + 60, 20), QColor(0, 255, 0), tolerance)) << left;
        EXPECT_TRUE(Near(At(shot, left + 20, 40), QColor(0, 0, 255), tolerance)) << left;
        EXPECT_TRUE(Near(At(shot, left + 60, 40), QColor(255, 255, 255), tolerance)) << left;
        // The corners of the control are the picture's too (the whole area is used).
        EXPECT_TRUE(Near(At(shot, left, 10), QColor(255, 0, 0), tolerance)) << left;
        EXPECT_TRUE(Near(At(shot, left + 79, 49), QColor(255, 255, 255), tolerance)) << left;
    }
    EXPECT_EQ(At(shot, 95, 30), Rgb(clBtnFace)); // between them, the form

    // Unstretched: the picture at its own size in the top left corner.
    image->SetStretch(false);
    ASSERT_TRUE(WaitFor([&] { return At(Grab(Form.get()), 50, 30) == Rgb(clBtnFace); }));
    const QImage plain = Grab(Form.get());
    EXPECT_EQ(At(plain, 12, 12), QColor(255, 0, 0));
    EXPECT_EQ(At(plain, 27, 17), QColor(255, 255, 255));
}

TEST_F(PaintTest, UnknownExtensionsAndBadFilesLeaveThePictureAsItWas) {
    MakeForm(100, 100);
    auto* image = new TImage(Form.get());
    image->SetParent(Form.get());
    image->Picture()->LoadFromFile(FormsDataDir() + "/quadrants.gif");
    TGraphic* before = image->Picture()->Graphic();
    EXPECT_THROW(image->Picture()->LoadFromFile(FormsDataDir() + "/make.sh"), EInvalidGraphic);
    EXPECT_THROW(image->Picture()->LoadFromFile(FormsDataDir() + "/missing.gif"), Exception);
    EXPECT_EQ(image->Picture()->Graphic(), before);
    image->Picture()->SetGraphic(nullptr); // an empty picture paints nothing, raises nothing
    ShowAndActivate(Form.get());
    EXPECT_EQ(At(Grab(Form.get()), 50, 50), Rgb(clBtnFace));
    EXPECT_TRUE(Errors.empty());
}

TEST_F(PaintTest, GraphicControlPaintsThroughItsParentAndFollowsInvalidate) {
    MakeForm(200, 100);
    TPanel* panel = MakePanel(200, 100, clYellow);
    auto* swatch = new TSwatch(Form.get());
    swatch->SetParent(panel);
    swatch->SetBounds(20, 30, 40, 20);
    ShowAndActivate(Form.get());
    QImage shot = Grab(panel);
    EXPECT_EQ(At(shot, 20, 30), QColor(0, 0, 255));
    EXPECT_EQ(At(shot, 59, 49), QColor(0, 0, 255));
    EXPECT_EQ(At(shot, 60, 49), QColor(255, 255, 0)); // right of it: the panel
    EXPECT_EQ(At(shot, 19, 30), QColor(255, 255, 0));

    swatch->Fill = clRed;
    swatch->Invalidate();
    ASSERT_TRUE(WaitFor([&] { return At(Grab(panel), 30, 40) == QColor(255, 0, 0); }));
    // Docked, it fills its parent and follows its size.
    swatch->SetAlign(alClient);
    EXPECT_EQ(swatch->BoundsRect(), Bounds(0, 0, 200, 100));
    panel->SetBounds(0, 0, 150, 80);
    EXPECT_EQ(swatch->BoundsRect(), Bounds(0, 0, 150, 80));
    EXPECT_EQ(At(Grab(panel), 149, 79), QColor(255, 0, 0));
    // Hidden, the parent shows through.
    swatch->Hide();
    ASSERT_TRUE(WaitFor([&] { return At(Grab(panel), 30, 40) == QColor(255, 255, 0); }));
}

TEST_F(PaintTest, BackgroundCaptureShowsWhatLiesBehindTheControlWithoutIt) {
    MakeForm(200, 100);
    TPanel* panel = MakePanel(200, 100, clYellow);
    auto* below = new TSwatch(Form.get()); // a red block under the top left of the capture
    below->SetParent(panel);
    below->Fill = clRed;
    below->SetBounds(0, 0, 30, 30);
    auto* edit = new TEdit(Form.get()); // a windowed control under its right end
    edit->SetParent(panel);
    edit->SetBounds(50, 20, 40, 24);
    edit->SetColor(clLime);
    auto* control = new TSwatch(Form.get());
    control->SetParent(panel);
    control->SetBounds(20, 20, 40, 20);
    control->CaptureInPaint = true;
    ShowAndActivate(Form.get());
    ASSERT_TRUE(WaitFor([&] { return control->Paints > 0; }));

    TBitmap captured;
    control->CaptureBackground(captured);
    for (TBitmap* bitmap : {&captured, &control->Captured}) {
        ASSERT_EQ(bitmap->Width(), 40);
        ASSERT_EQ(bitmap->Height(), 20);
        TCanvas* c = bitmap->Canvas();
        EXPECT_EQ(c->Pixels(5, 5), clRed);      // (25, 25): the red block
        EXPECT_EQ(c->Pixels(15, 15), clYellow); // (35, 35): the panel, not the control
        EXPECT_EQ(c->Pixels(39, 10), clLime);   // (59, 30): inside the edit box
    }
    EXPECT_FALSE(control->CapturingBackground());
    // The control itself still paints over all of it.
    EXPECT_EQ(At(Grab(panel), 25, 25), QColor(0, 0, 255));

    // Without a parent: just its size, in its colour.
    TSwatch lone(nullptr);
    lone.SetBounds(0, 0, 8, 6);
    lone.SetColor(clGreen);
    TBitmap alone;
    lone.CaptureBackground(alone);
    EXPECT_EQ(alone.Width(), 8);
    EXPECT_EQ(alone.Canvas()->Pixels(3, 3), clGreen);
}

TEST_F(PaintTest, PanelBevelsAndALeftJustifiedCaptionCentredVertically) {
    MakeForm(200, 100);
    TPanel* raised = MakePanel(100, 40, clBtnFace);
    raised->SetBevelOuter(bvRaised);
    raised->SetAlignment(taLeftJustify);
    raised->Font()->SetColor(clBlack);
    raised->SetCaption("  NO DATA");
    auto* lowered = new TPanel(Form.get());
    lowered->SetParent(Form.get());
    lowered->SetBounds(0, 50, 100, 40);
    lowered->SetBevelOuter(bvLowered);
    lowered->SetBevelInner(bvLowered);
    EXPECT_EQ(lowered->DockRect(), Rect(2, 2, 98, 38));
    ShowAndActivate(Form.get());
    const QImage top = Grab(raised);
    EXPECT_EQ(At(top, 0, 0), Rgb(clBtnHighlight));
    EXPECT_EQ(At(top, 99, 39), Rgb(clBtnShadow));
    const QImage bottom = Grab(lowered);
    EXPECT_EQ(At(bottom, 0, 0), Rgb(clBtnShadow));
    EXPECT_EQ(At(bottom, 1, 1), Rgb(clBtnShadow));
    EXPECT_EQ(At(bottom, 99, 39), Rgb(clBtnHighlight));

    // The caption's ink: after the two leading spaces, in the left part, around the
    // vertical middle.
    int minX = 1000, maxX = -1, minY = 1000, maxY = -1;
    for (int y = 1; y < 39; ++y)
        for (int x = 1; x < 99; ++x)
            if (At(top, x, y) == QColor(0, 0, 0)) {
                minX = std::min(minX, x), maxX = std::max(maxX, x);
                minY = std::min(minY, y), maxY = std::max(maxY, y);
            }
    ASSERT_GE(maxX, 0) << "no caption drawn";
    EXPECT_GE(minX, 4);
    EXPECT_LT(minX, 20);
    EXPECT_NEAR((minY + maxY) / 2.0, 19.5, 3);
}

TEST_F(PaintTest, LabelsSizeToTheirTextUnlessFixedAndDrawTheAcceleratorUnderlined) {
    MakeForm(200, 60);
    auto* fixed = new TLabel(Form.get());
    fixed->SetParent(Form.get());
    fixed->SetAutoSize(false);
    fixed->SetBounds(10, 10, 35, 13);
    fixed->SetAlignment(taCenter);
    fixed->Font()->SetColor(clBlue);
    fixed->SetCaption("S&P 500");
    EXPECT_EQ(fixed->BoundsRect(), Bounds(10, 10, 35, 13));
    auto* sized = new TLabel(Form.get());
    sized->SetParent(Form.get());
    sized->SetLeft(10);
    sized->SetTop(30);
    sized->SetCaption("Proxy");
    EXPECT_GT(sized->Width(), 10);
    const int shortWidth = sized->Width();
    sized->SetCaption("Proxy Proxy");
    EXPECT_GT(sized->Width(), shortWidth);
    ShowAndActivate(Form.get());
    const QImage shot = Grab(Form.get());
    int ink = 0, outside = 0;
    for (int y = 0; y < shot.height(); ++y)
        for (int x = 0; x < shot.width(); ++x)
            if (At(shot, x, y) == QColor(0, 0, 255))
                ((x >= 10 && x < 45 && y >= 10 && y < 23) ? ink : outside)++;
    EXPECT_GT(ink, 10);
    EXPECT_EQ(outside, 0); // clipped to the label
}

TEST_F(PaintTest, HintsShowOnHoverOnlyWhereShowHintHoldsAndFollowTheHintText) {
    MakeForm(200, 100);
    auto* row = new TPanel(Form.get());
    row->SetParent(Form.get());
    row->SetBounds(0, 0, 200, 50);
    row->SetShowHint(false); // the row's hints are off ...
    auto* button = new TButton(Form.get());
    button->SetParent(row);
    button->SetBounds(6, 3, 40, 18);
    button->SetHint("Drag and drop symbol from text to button.");
    button->SetShowHint(true); // ... but this button shows its own
    auto* quiet = new TButton(Form.get());
    quiet->SetParent(row);
    quiet->SetBounds(60, 3, 40, 18);
    quiet->SetHint("never shown");
    auto* label = new TLabel(Form.get());
    label->SetParent(Form.get());
    label->SetBounds(10, 60, 60, 13);
    label->SetHint("1 day to 1 year selector");
    label->SetShowHint(true);
    button->OnMouseMove = [&](TObject*, TShiftState, int, int) {
        if (!button->Caption().empty()) button->SetHint("");
    };
    ShowAndActivate(Form.get());

    auto hover = [&](TWinControl* over, QPoint pos) {
        QToolTip::hideText(); // the tip goes after a short delay
        EXPECT_TRUE(WaitFor([] { return !QToolTip::isVisible(); }));
        QHelpEvent help(QEvent::ToolTip, pos, over->Handle()->mapToGlobal(pos));
        QCoreApplication::sendEvent(over->Handle(), &help);
        return QToolTip::isVisible() ? QToolTip::text().toStdString() : std::string();
    };
    EXPECT_EQ(hover(button, QPoint(5, 5)), "Drag and drop symbol from text to button.");
    EXPECT_EQ(hover(quiet, QPoint(5, 5)), "");
    EXPECT_EQ(hover(Form.get(), QPoint(15, 65)), "1 day to 1 year selector"); // windowless
    EXPECT_EQ(hover(Form.get(), QPoint(150, 80)), "");

    // A button that holds a symbol drops its hint when the mouse moves over it.
    button->SetCaption("IBM");
    QTest::mouseMove(button->Handle(), QPoint(10, 8));
    QTest::mouseMove(button->Handle(), QPoint(12, 9));
    EXPECT_EQ(button->Hint(), "");
    EXPECT_EQ(hover(button, QPoint(5, 5)), "");
}

} // namespace
} // namespace vt::test
