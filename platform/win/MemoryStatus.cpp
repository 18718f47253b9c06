#include "platform/win/MemoryStatus.h"

#include "platform/win/Module.h"

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>

namespace {

// Reads "Name:   123 kB" lines of a /proc file; values in bytes.
struct ProcValues {
    std::optional<DWORDLONG> get(const char* wanted) const {
        std::ifstream in(m_file);
        std::string line;
        while (std::getline(in, line)) {
            char key[64];
            unsigned long long number = 0;
            char suffix[8] = "";
            if (std::sscanf(line.c_str(), "%63[^:]: %llu %7s", key, &number, suffix) < 2) continue;
            if (std::strcmp(key, wanted) != 0) continue;
            return static_cast<DWORDLONG>(std::strcmp(suffix, "kB") == 0 ? number * 1024 : number);
        }
        return std::nullopt;
    }
    std::string m_file;
};

std::optional<DWORDLONG> readNumberFile(const std::string& path) {
    std::ifstream in(path);
    std::string text;
    if (!(in >> text) || text == "max") return std::nullopt;
    try {
        return std::stoull(text);
    } catch (...) {
        return std::nullopt;
    }
}

// The unified (v2) cgroup of this process: "0::/path".
std::string cgroupDirectory(const std::string& procRoot, const std::string& cgroupRoot) {
    std::ifstream in(procRoot + "/self/cgroup");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("0::", 0) == 0) return cgroupRoot + line.substr(3);
    return {};
}

// Top of the user address space on 64-bit Linux (47 bits).
constexpr DWORDLONG kUserAddressSpace = 0x00007FFFFFFFF000ull;

} // namespace

namespace zeb {

bool readPhysicalMemory(const std::string& procRoot, const std::string& cgroupRoot,
                        PhysicalMemory& out) {
    const ProcValues meminfo{procRoot + "/meminfo"};
    const auto total = meminfo.get("MemTotal");
    if (!total) return false;
    DWORDLONG totalPhys = *total;
    DWORDLONG availPhys = meminfo.get("MemAvailable").value_or(meminfo.get("MemFree").value_or(0));
    if (const auto dir = cgroupDirectory(procRoot, cgroupRoot); !dir.empty()) {
        if (const auto limit = readNumberFile(dir + "/memory.max"); limit && *limit < totalPhys) {
            totalPhys = *limit;
            const DWORDLONG used = readNumberFile(dir + "/memory.current").value_or(0);
            availPhys = std::min(availPhys, used < totalPhys ? totalPhys - used : 0);
        }
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
    const DWORDLONG mapped = ProcValues{"/proc/self/status"}.get("VmSize").value_or(0);

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
