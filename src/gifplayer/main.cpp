// brenvik-gifplayer: plays a GIF file in a window with the animated control.
// Usage: brenvik-gifplayer [FILE.gif]

#include "gifplayer/PlayerForm.h"

#include <string>

int main(int argc, char** argv) {
    vt::InitializeForms(argc, argv);
    Application.SetTitle(TPlayerForm::Title);
    TPlayerForm* form = vt::CreateForm<TPlayerForm>();
    if (argc > 1) form->OpenFile(argv[1]);
    form->Show();
    Application.Run();
    delete form;
    return 0;
}
