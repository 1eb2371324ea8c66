// The toolkit and the message queue in one loop: a click handler that pumps (as the
// blocking HTTP Get does) keeps posted messages, timers, painting and the other
// buttons alive; Run waits without spinning and ends with the main form; errors from
// handlers reach the error display; closing honours OnClose.

#include "FormsTestSupport.h"

#include "platform/messages/Messages.h"
#include "platform/runtime/Exceptions.h"

#include <QApplication>
#include <QDropEvent>
#include <QFileDialog>
#include <QMimeData>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <thread>

namespace vt::test {
namespace {

constexpr UINT WM_PING = WM_USER + 7;
constexpr UINT_PTR TimerId = 3;

class TCounter : public TGraphicControl {
public:
    using TGraphicControl::TGraphicControl;
    int Paints = 0;

protected:
    void Paint() override {
        ++Paints;
        Canvas()->Brush()->SetColor(clRed);
        Canvas()->FillRect(ClientRect());
    }
};

class LoopTest : public FormsTest {
protected:
    void SetUp() override {
        FormsTest::SetUp();
        Window = AllocateHWnd([this](TMessage& M) {
            if (M.Msg == WM_PING) Pings.push_back(static_cast<int>(M.WParam));
            if (M.Msg == WM_TIMER) ++Ticks;
        });
        MakeForm(200, 100);
        Get = new TButton(Form.get());
        Get->SetParent(Form.get());
        Get->SetBounds(10, 10, 60, 25);
        Other = new TButton(Form.get());
        Other->SetParent(Form.get());
        Other->SetBounds(100, 10, 60, 25);
        Painted = new TCounter(Form.get());
        Painted->SetParent(Form.get());
        Painted->SetBounds(10, 50, 30, 30);
    }
    void TearDown() override {
        DeallocateHWnd(Window);
        FormsTest::TearDown();
    }

    HWND Window = nullptr;
    TButton* Get = nullptr;
    TButton* Other = nullptr;
    TCounter* Painted = nullptr;
    std::vector<int> Pings;
    int Ticks = 0;
};

TEST_F(LoopTest, AHandlerThatPumpsKeepsMessagesTimersPaintingAndOtherButtonsAlive) {
    ShowAndActivate(Form.get());
    bool otherClicked = false, nestedDone = false;
    int paintsBefore = 0;
    Other->OnClick = [&](TObject*) { otherClicked = true; };
    Get->OnClick = [&](TObject*) {
        // Inside the click: work arrives from a thread, a timer and the user.
        std::thread poster([this] {
            for (int i = 1; i <= 3; ++i) {
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
                PostMessage(Window, WM_PING, static_cast<WPARAM>(i), 0);
            }
        });
        SetTimer(Window, TimerId, 15);
        QTimer::singleShot(
            40, [this] { QTest::mouseClick(Other->Handle(), Qt::LeftButton, {}, QPoint(10, 10)); });
        paintsBefore = Painted->Paints;
        Painted->Invalidate();
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (
            !(Pings.size() == 3 && Ticks >= 2 && otherClicked && Painted->Paints > paintsBefore) &&
            std::chrono::steady_clock::now() < end) {
            Application.ProcessMessages(); // as the blocking Get does
            WaitMessageTimeout(50);
        }
        poster.join();
        KillTimer(Window, TimerId);
        nestedDone = true;
    };
    QTest::mouseClick(Get->Handle(), Qt::LeftButton, {}, QPoint(10, 10));
    EXPECT_TRUE(nestedDone);
    EXPECT_EQ(Pings, (std::vector<int>{1, 2, 3}));
    EXPECT_GE(Ticks, 2);
    EXPECT_TRUE(otherClicked);
    EXPECT_GT(Painted->Paints, paintsBefore);
    EXPECT_TRUE(Errors.empty());
}

TEST_F(LoopTest, RunWaitsInTheToolkitWakesForPostsAndEndsWithTheMainForm) {
    vt::SetMainForm(Form.get());
    Form->Show();
    std::vector<std::string> order;
    Form->OnClose = [&](TObject*, TCloseAction& Action) {
        order.push_back("close");
        EXPECT_EQ(Action, caHide);
    };
    // A post from another thread wakes the waiting loop; its handler closes the form.
    HWND closer = AllocateHWnd([&](TMessage& M) {
        if (M.Msg != WM_PING) return;
        order.push_back("ping");
        Form->Close();
    });
    std::thread poster([closer] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        PostMessage(closer, WM_PING, 0, 0);
    });
    const auto started = std::chrono::steady_clock::now();
    Application.Run();
    const auto took = std::chrono::steady_clock::now() - started;
    poster.join();
    DeallocateHWnd(closer);
    EXPECT_EQ(order, (std::vector<std::string>{"ping", "close"}));
    EXPECT_FALSE(Form->Visible());
    EXPECT_LT(took, std::chrono::seconds(3));
    vt::SetMainForm(nullptr);
}

TEST_F(LoopTest, ErrorsLeavingHandlersGoToTheErrorDisplayAndTheProgramGoesOn) {
    ShowAndActivate(Form.get());
    int clicks = 0;
    Get->OnClick = [&](TObject*) {
        ++clicks;
        throw EInvalidOperation("Cannot create file IBM.gif");
    };
    Other->OnClick = [](TObject*) { throw EAbort("silent"); };
    QTest::mouseClick(Get->Handle(), Qt::LeftButton, {}, QPoint(10, 10));
    QTest::mouseClick(Other->Handle(), Qt::LeftButton, {}, QPoint(10, 10));
    QTest::keyClick(Get->Handle(), Qt::Key_Space);
    EXPECT_EQ(clicks, 2);
    ASSERT_EQ(Errors.size(), 2u); // EAbort shows nothing
    EXPECT_EQ(Errors[0].Title, "Forms Test");
    EXPECT_EQ(Errors[0].Text, "Cannot create file IBM.gif."); // "f" sorts after "."
}

TEST_F(LoopTest, OnCloseDecidesAndAFailingCloseKeepsTheWindowOpen) {
    ShowAndActivate(Form.get());
    int attempts = 0;
    Form->OnClose = [&](TObject*, TCloseAction& Action) {
        ++attempts;
        if (attempts == 1) throw EIniFileException("Unable to write to vantrel.ini");
        if (attempts == 2) Action = caNone;
    };
    // As the window manager asks: the window's close button.
    EXPECT_FALSE(Form->Handle()->close());
    EXPECT_TRUE(Form->Visible());
    ASSERT_EQ(Errors.size(), 1u);
    EXPECT_EQ(Errors[0].Text, "Unable to write to vantrel.ini."); // "i" sorts after "."
    EXPECT_FALSE(Form->Handle()->close());
    EXPECT_TRUE(Form->Visible());
    EXPECT_TRUE(Form->Handle()->close()); // the third try goes through
    EXPECT_FALSE(Form->Visible());
    EXPECT_FALSE(Form->Handle()->isVisible());
    EXPECT_EQ(attempts, 3);
}

TEST_F(LoopTest, ShowRaisesOnShowEachTimeAndCreateRunsLoadedOnce) {
    class TProbe : public TGraphicControl {
    public:
        using TGraphicControl::TGraphicControl;
        int LoadedCalls = 0;

    protected:
        void Loaded() override { ++LoadedCalls; }
    };
    class TProbeForm : public TForm {
    public:
        explicit TProbeForm(TComponent* Owner) : TForm(Owner) {
            Probe = new TProbe(this);
            Probe->SetParent(this);
            OnCreate = [this](TObject*) { LoadedAtCreate = Probe->LoadedCalls; };
        }
        TProbe* Probe;
        int LoadedAtCreate = -1;
    };
    std::unique_ptr<TProbeForm> form(vt::CreateForm<TProbeForm>());
    EXPECT_EQ(form->LoadedAtCreate, 1); // Loaded before OnCreate
    int shows = 0;
    form->OnShow = [&](TObject*) { ++shows; };
    form->Show();
    form->Hide();
    form->Show();
    EXPECT_EQ(shows, 2);
    EXPECT_EQ(form->Probe->LoadedCalls, 1);
}

TEST_F(LoopTest, FilesDroppedFromTheDesktopReachOnDropFiles) {
    std::vector<std::string> dropped;
    auto drop = [&] {
        QMimeData data;
        data.setUrls({QUrl::fromLocalFile("/tmp/anim.gif"), QUrl("http://example.org/x.gif"),
                      QUrl::fromLocalFile("/tmp/two words.gif")});
        QWidget* window = Form->Handle();
        QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, {});
        QCoreApplication::sendEvent(window, &enter);
        QDropEvent dropEvent(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, {});
        QCoreApplication::sendEvent(window, &dropEvent);
        return enter.isAccepted();
    };
    EXPECT_FALSE(drop()); // without a handler the form takes no files
    Form->OnDropFiles = [&](TObject* Sender, const std::vector<std::string>& Files) {
        EXPECT_EQ(Sender, Form.get());
        dropped = Files;
    };
    EXPECT_TRUE(drop());
    EXPECT_EQ(dropped, (std::vector<std::string>{"/tmp/anim.gif", "/tmp/two words.gif"}));
}

TEST_F(LoopTest, OpenFileDialogReturnsTheChosenFileOrNothing) {
    const std::string chosen = FormsDataDir() + "/quadrants.gif";
    // Answers the dialog as the user would, once it is up.
    std::function<void(const std::string&)> answer = [&answer](const std::string& File) {
        QTimer::singleShot(20, [File, &answer] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (!dialog) return answer(File); // not up yet
            EXPECT_EQ(dialog->windowTitle(), "Open GIF");
            if (File.empty()) {
                dialog->reject();
                return;
            }
            dialog->selectFile(QString::fromStdString(File));
            static_cast<QDialog*>(dialog)->accept(); // QFileDialog::accept checks the file
        });
    };
    answer(chosen);
    EXPECT_EQ(vt::OpenFileDialog("Open GIF", "GIF images (*.gif);;All files (*)"), chosen);
    answer("");
    EXPECT_EQ(vt::OpenFileDialog("Open GIF", "GIF images (*.gif)"), "");
}

} // namespace
} // namespace vt::test
