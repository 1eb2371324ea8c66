#pragma once
// Shared set-up of the forms tests: the toolkit started once, errors captured instead
// of shown, forms shown and made active, pixels read back from the screen surface.

#include "platform/forms/Forms.h"
#include "support/Pump.h"

#include <gtest/gtest.h>

#include <QColor>
#include <QImage>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vt::test {

struct ShownError {
    std::string Title, Text;
};

class FormsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { vt::InitializeForms(); }
    void SetUp() override;
    void TearDown() override;

    // A form of the given client size at a fixed place, owned by the fixture.
    TForm* MakeForm(int ClientWidth = 300, int ClientHeight = 200);
    // Shows the form and waits until it is exposed and active (focus works then).
    void ShowAndActivate(TForm* Form);
    // What the window shows now (client area, in its own pixels).
    QImage Grab(TWinControl* Control);
    // Serves events until Done holds; false after TimeoutMs.
    bool WaitFor(const std::function<bool()>& Done, int TimeoutMs = 3000);

    std::vector<ShownError> Errors;
    std::unique_ptr<Watchdog> Dog;
    std::unique_ptr<TForm> Form;
};

// The data folder of the forms tests.
std::string FormsDataDir();
// True when two colours differ by at most Tolerance in every channel.
bool Near(QColor A, QColor B, int Tolerance = 0);

} // namespace vt::test
