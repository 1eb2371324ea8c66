#pragma once
// The widget framework's entry: start the toolkit, create forms, run. A program does
//
//     vt::InitializeForms(argc, argv);
//     Application.SetTitle("...");
//     auto* form = vt::CreateForm<TMyForm>();   // the first form is the main form
//     form->Show();
//     Application.Run();                        // until the main form closes
//     delete form;
//
// and includes the control headers it uses. The application object is the one of the
// message queue (Application.h); this module plugs the toolkit into it.

#include "platform/forms/Button.h"
#include "platform/forms/Edit.h"
#include "platform/forms/Form.h"
#include "platform/forms/GraphicControl.h"
#include "platform/forms/Image.h"
#include "platform/forms/Label.h"
#include "platform/forms/Panel.h"
#include "platform/forms/TrackBar.h"
#include "platform/messages/Application.h"

#include <string>

namespace vt {

// Starts the toolkit once (later calls do nothing) on the calling thread, which becomes
// the GUI thread: the toolkit watches that thread's message queue, ProcessMessages
// serves toolkit events and posted messages alike (nested pumps included), waiting
// pumps wake for both, the missing Windows fonts fall back to DejaVu Sans, and errors
// that leave event handlers go to ShowErrorMessage. argc/argv are not interpreted.
void InitializeForms(int argc = 0, char** argv = nullptr);
// True once InitializeForms has run.
bool FormsInitialized();

// The default error display: a modal message box with an error icon, titled Title,
// showing Text. Application.SetErrorDisplay replaces it (tests capture errors so).
void ShowErrorMessage(const std::string& Title, const std::string& Text);

// The main form: closing it terminates Application.Run. The first form made by
// CreateForm becomes it.
TForm* MainForm();
void SetMainForm(TForm* Form);

// Makes a form: constructs it, then runs its controls' Loaded and OnCreate.
template <class T> T* CreateForm(TComponent* Owner = nullptr) {
    InitializeForms();
    T* form = new T(Owner);
    if (!MainForm()) SetMainForm(form);
    form->AfterConstruction();
    return form;
}

// The distance the pointer must move with a button held before a deferred drag starts.
constexpr int DragThreshold = 5;

// The text a caption shows with its "&" accelerator marks removed ("S&&P" -> "S&P").
std::string StripAccelChars(const std::string& Caption);

} // namespace vt
