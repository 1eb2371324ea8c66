// fontconfig keeps its configuration for the life of the process once text has been
// drawn on a frame; that is no leak of ours.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}
