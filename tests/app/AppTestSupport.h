#pragma once
// Shared set-up of the app tests: data files found also when the binary runs by hand,
// a fresh working folder and configuration folder per test.

#include <string>

namespace vt::test {

// The repository's source folder: VT_SOURCE_DIR when set, else the one built into the binary.
std::string AppSourceDir();
// A real encoder-made GIF of the test corpus.
std::string CorpusGif(const std::string& name);
bool Exists(const std::string& name);

// Moves into a fresh working folder and points XDG_CONFIG_HOME at a fresh folder;
// undoes both on destruction.
class TScratchFolders {
public:
    TScratchFolders();
    ~TScratchFolders();
    TScratchFolders(const TScratchFolders&) = delete;
    TScratchFolders& operator=(const TScratchFolders&) = delete;

    const std::string& WorkDir() const { return FWorkDir; }
    const std::string& ConfigDir() const { return FConfigDir; }

private:
    std::string FOldDir, FOldConfig, FWorkDir, FConfigDir;
    bool FHadConfig = false;
};

} // namespace vt::test
