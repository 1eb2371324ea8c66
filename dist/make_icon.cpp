// Writes the viewer's window icon as a PNG file, so the desktop's menu shows the same
// picture as the window:  vt-make-icon OUT.png
#include "app/WindowIcon.h"
#include "platform/gdi/Picture.h"

#include <cstdio>
#include <cstdlib>
#include <exception>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: vt-make-icon OUT.png\n");
        return 2;
    }
    setenv("QT_QPA_PLATFORM", "offscreen", 1); // drawn off screen, at build time
    try {
        TPicture icon;
        DrawWindowIcon(icon);
        icon.SaveToFile(argv[1]);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "vt-make-icon: %s\n", error.what());
        return 1;
    }
    return 0;
}
