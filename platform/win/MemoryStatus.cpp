#include "platform/win/MemoryStatus.h"

#include "platform/win/Module.h"

#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace {

// The "Name:   123 kB" lines of a /proc file, read at once (so that the
// figures belong together); values in bytes.
class ProcValues {
public:
    explicit ProcValues(const std::string& file) {
        std::ifstream in(file);
        std::string line;
        while (std::getline(in, line)) {
            char key[64];
            unsigned long long number = 0;
            char suffix[8] = "";
            if (std::sscanf(line.c_str(), "%63[^:]: %llu %7s", key, &number, suffix) < 2) continue;
            m_values.emplace_back(key, std::strcmp(suffix, "kB") == 0 ? number * 1024 : number);
        }
    }
    std::optional<DWORDLONG> get(std::string_view wanted) const {
        for (const auto& [key, value] : m_values)
            if (key == wanted) return value;
        return std::nullopt;
    }

private:
    std::vector<std::pair<std::string, DWORDLONG>> m_values;
};

std::optional<DWORDLONG> parseNumber(std::string_view text) {
    if (text.empty() || text.size() > 20) return std::nullopt;
    DWORDLONG value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<DWORDLONG>(c - '0');
    }
    return value;
}

// A file holding one number; nullopt when missing, "max" (no limit) or not a number.
std::optional<DWORDLONG> readNumberFile(const std::string& path) {
    std::ifstream in(path);
    std::string text;
    if (!(in >> text)) return std::nullopt;
    return parseNumber(text);
}

// One "name value" line of a cgroup's memory.stat.
std::optional<DWORDLONG> readStatValue(const std::string& path, std::string_view wanted) {
    std::ifstream in(path);
    std::string key, value;
    while (in >> key >> value)
        if (key == wanted) return parseNumber(value);
    return std::nullopt;
}

bool isDirectory(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The memory files of a cgroup in either version of the cgroup file system.
// The reclaimable part is the inactive page cache, which the kernel drops
// before it fails an allocation; in version 1 the "total_" figure counts the
// cgroups below too, as the usage does.
struct MemoryFiles {
    const char* limit;
    const char* usage;
    const char* reclaimable; // a memory.stat entry
};
constexpr MemoryFiles kVersion1{"memory.limit_in_bytes", "memory.usage_in_bytes",
                                "total_inactive_file"};
constexpr MemoryFiles kVersion2{"memory.max", "memory.current", "inactive_file"};

// The directories of this process's memory cgroup and of the cgroups that
// enclose it, innermost first, up to the root of the mount, with the version
// of their files; empty when /proc/self/cgroup names none. A memory
// controller of version 1 ("N:...memory...:/path", mounted at <root>/memory)
// wins over the unified hierarchy ("0::/path", mounted at <root>), which then
// holds no memory controller. A path that is not found under the mount (a
// container mounts only its own cgroup, while the path names it as the host
// sees it) leaves the mount's root as the process's cgroup.
std::vector<std::string> memoryCgroups(const std::string& procRoot, const std::string& cgroupRoot,
                                       const MemoryFiles*& files) {
    std::ifstream in(procRoot + "/self/cgroup");
    std::string line;
    std::optional<std::string> unified, version1;
    while (std::getline(in, line)) {
        const auto first = line.find(':');
        const auto second = first == std::string::npos ? first : line.find(':', first + 1);
        if (second == std::string::npos) continue;
        const std::string controllers = "," + line.substr(first + 1, second - first - 1) + ",";
        const std::string path = line.substr(second + 1);
        if (line.compare(0, first, "0") == 0 && controllers == ",,")
            unified = path;
        else if (controllers.find(",memory,") != std::string::npos)
            version1 = path;
    }
    if (!version1 && !unified) return {};
    files = version1 ? &kVersion1 : &kVersion2;
    const std::string mount = version1 ? cgroupRoot + "/memory" : cgroupRoot;
    std::string path = version1 ? *version1 : *unified;
    while (!path.empty() && path.back() == '/')
        path.pop_back();
    if (path.find("/..") != std::string::npos || !isDirectory(mount + path)) path.clear();
    std::vector<std::string> dirs;
    for (;;) {
        dirs.push_back(mount + path);
        const auto slash = path.rfind('/');
        if (slash == std::string::npos) break;
        path.resize(slash);
    }
    return dirs;
}

// Top of the user address space on 64-bit Linux (47 bits).
constexpr DWORDLONG kUserAddressSpace = 0x00007FFFFFFFF000ull;

} // namespace

namespace zeb {

bool readPhysicalMemory(const std::string& procRoot, const std::string& cgroupRoot,
                        PhysicalMemory& out) {
    const ProcValues meminfo(procRoot + "/meminfo");
    const auto total = meminfo.get("MemTotal");
    if (!total) return false;
    DWORDLONG totalPhys = *total;
    // Kernels before 3.14 have no MemAvailable: free memory plus buffers and
    // page cache is the estimate they left to their readers.
    DWORDLONG availPhys =
        meminfo.get("MemAvailable")
            .value_or(meminfo.get("MemFree").value_or(0) + meminfo.get("Buffers").value_or(0) +
                      meminfo.get("Cached").value_or(0));

    // Every cgroup on the way up with a limit below the machine's memory
    // bounds both figures: the total by its limit, what is available by the
    // limit less what the cgroup uses and the kernel cannot reclaim.
    const MemoryFiles* files = nullptr;
    for (const std::string& dir : memoryCgroups(procRoot, cgroupRoot, files)) {
        const auto limit = readNumberFile(dir + "/" + files->limit);
        if (!limit || *limit >= *total) continue; // none ("max", or v1's huge "no limit")
        totalPhys = std::min(totalPhys, *limit);
        const auto usage = readNumberFile(dir + "/" + files->usage);
        if (!usage) {
            availPhys = std::min(availPhys, *limit);
            continue;
        }
        const DWORDLONG reclaimable =
            readStatValue(dir + "/memory.stat", files->reclaimable).value_or(0);
        // The two files are read one after the other: the cache may have
        // grown past the usage read before it.
        const DWORDLONG inUse = *usage > reclaimable ? *usage - reclaimable : 0;
        availPhys = std::min(availPhys, *limit > inUse ? *limit - inUse : 0);
    }
    out.total = totalPhys;
    out.available = std::min(availPhys, totalPhys);
    out.swapTotal = meminfo.get("SwapTotal").value_or(0);
    out.swapFree = std::min(meminfo.get("SwapFree").value_or(0), out.swapTotal);
    return true;
}

} // namespace zeb

BOOL GlobalMemoryStatusEx(LPMEMORYSTATUSEX status) {
    if (!status || status->dwLength != sizeof(MEMORYSTATUSEX)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return FALSE;
    }
    zeb::PhysicalMemory physical;
    if (!zeb::readPhysicalMemory("/proc", "/sys/fs/cgroup", physical)) {
        SetLastError(ERROR_READ_FAULT);
        return FALSE;
    }
    const DWORDLONG totalPhys = physical.total;
    const DWORDLONG availPhys = physical.available;
    const DWORDLONG swapTotal = physical.swapTotal;
    const DWORDLONG swapFree = physical.swapFree;

    DWORDLONG totalVirtual = kUserAddressSpace;
    rlimit as{};
    if (getrlimit(RLIMIT_AS, &as) == 0 && as.rlim_cur != RLIM_INFINITY)
        totalVirtual = std::min<DWORDLONG>(totalVirtual, as.rlim_cur);
    const DWORDLONG mapped = ProcValues("/proc/self/status").get("VmSize").value_or(0);

    status->ullTotalPhys = totalPhys;
    status->ullAvailPhys = availPhys;
    status->dwMemoryLoad =
        totalPhys ? static_cast<DWORD>((totalPhys - availPhys) * 100 / totalPhys) : 0;
    status->ullTotalPageFile = totalPhys + swapTotal;
    status->ullAvailPageFile = availPhys + swapFree;
    status->ullTotalVirtual = totalVirtual;
    status->ullAvailVirtual = mapped < totalVirtual ? totalVirtual - mapped : 0;
    status->ullAvailExtendedVirtual = 0;
    return TRUE;
}

void GlobalMemoryStatus(LPMEMORYSTATUS status) {
    if (!status) return;
    MEMORYSTATUSEX ex{};
    ex.dwLength = sizeof ex;
    const bool ok = GlobalMemoryStatusEx(&ex) != FALSE;
    status->dwLength = sizeof(MEMORYSTATUS);
    status->dwMemoryLoad = ok ? ex.dwMemoryLoad : 0;
    status->dwTotalPhys = ok ? ex.ullTotalPhys : 0;
    status->dwAvailPhys = ok ? ex.ullAvailPhys : 0;
    status->dwTotalPageFile = ok ? ex.ullTotalPageFile : 0;
    status->dwAvailPageFile = ok ? ex.ullAvailPageFile : 0;
    status->dwTotalVirtual = ok ? ex.ullTotalVirtual : 0;
    status->dwAvailVirtual = ok ? ex.ullAvailVirtual : 0;
}
