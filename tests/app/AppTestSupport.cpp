#include "AppTestSupport.h"

#include "support/Peers.h"

#include <cstdlib>
#include <unistd.h>

namespace vt::test {

namespace {

// Qt needs a platform; a binary run by hand gets the one CTest gives it.
const bool kOffscreen = [] { return ::setenv("QT_QPA_PLATFORM", "offscreen", 0) == 0; }();

} // namespace

// Font caches of system libraries are never freed; a binary run by hand has no
// suppression file, so it carries the same list.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\nleak:libfreetype.so\n";
}

std::string AppSourceDir() {
    const char* dir = std::getenv("VT_SOURCE_DIR");
    return dir ? dir : VT_APP_TEST_SOURCE_DIR;
}

std::string CorpusGif(const std::string& name) {
    return ReadFile(AppSourceDir() + "/tests/data/gif/" + name);
}

bool Exists(const std::string& name) {
    return ::access(name.c_str(), F_OK) == 0;
}

TScratchFolders::TScratchFolders() {
    (void)kOffscreen;
    char* old = ::getcwd(nullptr, 0);
    FOldDir = old ? old : "/";
    ::free(old);
    if (const char* config = std::getenv("XDG_CONFIG_HOME")) {
        FHadConfig = true;
        FOldConfig = config;
    }
    FWorkDir = MakeTempDir("vt-app-work");
    FConfigDir = MakeTempDir("vt-app-config");
    if (::chdir(FWorkDir.c_str()) != 0) std::abort();
    ::setenv("XDG_CONFIG_HOME", FConfigDir.c_str(), 1);
}

TScratchFolders::~TScratchFolders() {
    if (::chdir(FOldDir.c_str()) != 0) std::abort();
    if (FHadConfig)
        ::setenv("XDG_CONFIG_HOME", FOldConfig.c_str(), 1);
    else
        ::unsetenv("XDG_CONFIG_HOME");
    RemoveTree(FWorkDir);
    RemoveTree(FConfigDir);
}

} // namespace vt::test
