#include "ControlTestSupport.h"

#include <fstream>
#include <iterator>

namespace gifctest {

std::string DataPath(const std::string& Name) {
    return std::string(GIFCONTROL_DATA_DIR) + "/" + Name;
}

Bytes ReadFile(const std::string& Path) {
    std::ifstream in(Path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

} // namespace gifctest
