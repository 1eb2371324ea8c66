// Brenvik Vantrel: the chart window. The program takes no command-line arguments.
#include "app/HttpGetForm.h"
#include "gif/GIFImage.h"
#include "platform/gdi/JPEGImage.h"

int main(int argc, char** argv) {
    InitializeGifImg();
    RegisterJpegFormat();
    vt::InitializeForms();
    Application.SetTitle("Bren Vik Vantrel");
    THttpGetForm* form = vt::CreateForm<THttpGetForm>();
    form->Show();
    Application.Run();
    delete form;
    return 0;
}
