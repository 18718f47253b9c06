// registry_tour: runs the type-registry tour on a private registry file
// (unless $ZEB_REGISTRY is set), so the user's own registry is never written.
#include "samples/tour/RegistryTour.h"

#include <cstdlib>
#include <filesystem>
#include <string>

int main() {
    std::string dir;
    if (!std::getenv("ZEB_REGISTRY")) {
        char pattern[] = "/tmp/zeb-tour-XXXXXX";
        if (!mkdtemp(pattern)) return 2;
        dir = pattern;
        setenv("ZEB_REGISTRY", (dir + "/registry.reg").c_str(), 1);
    }
    int failures = zeb::samples::registryTour(stdout);
    if (!dir.empty()) std::filesystem::remove_all(dir);
    return failures == 0 ? 0 : 1;
}
