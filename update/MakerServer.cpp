#include "update/MakerServer.h"

namespace {
std::string& OverrideBase() {
    static std::string base;
    return base;
}
}  // namespace

std::string MakerServerBase() {
    const std::string& base = OverrideBase();
    return base.empty() ? std::string(kMakerServer) : base;
}

void SetMakerServerBase(const std::string& Base) {
    std::string base = Base;
    while (!base.empty() && base.back() == '/') base.pop_back();
    OverrideBase() = base;
}

std::string MakerServerUrl(const std::string& Path) {
    if (!Path.empty() && Path.front() == '/') return MakerServerBase() + Path;
    return MakerServerBase() + "/" + Path;
}
