// Memory status from the kernel: /proc/meminfo, the process' cgroup memory
// limit and its address-space limit.
//
// Physical memory is the machine's, lowered to the lowest memory limit of the
// process' cgroup and the cgroups enclosing it (a container sees its own
// budget), in version 1 or 2 of the cgroup file system. "Available" counts
// what the kernel can reclaim, as it would before failing an allocation: the
// machine's MemAvailable, lowered for each limit to the limit less the
// cgroup's usage not counting its inactive page cache (inactive_file, in
// version 1 total_inactive_file, of memory.stat). The page file is RAM plus
// swap, as the commit limit of Windows. Virtual space is the process' address
// space: the user address range or RLIMIT_AS when lower, less what is mapped
// now.
//
//   MEMORYSTATUSEX status{};
//   status.dwLength = sizeof status;
//   if (GlobalMemoryStatusEx(&status) && status.ullAvailPhys < need) ...
#pragma once

#include "platform/win/WinTypes.h"

#include <string>

struct MEMORYSTATUSEX {
    DWORD dwLength;     // set by the caller to sizeof(MEMORYSTATUSEX)
    DWORD dwMemoryLoad; // percent of physical memory in use, 0..100
    DWORDLONG ullTotalPhys;
    DWORDLONG ullAvailPhys;
    DWORDLONG ullTotalPageFile;
    DWORDLONG ullAvailPageFile;
    DWORDLONG ullTotalVirtual;
    DWORDLONG ullAvailVirtual;
    DWORDLONG ullAvailExtendedVirtual; // always 0
};
using LPMEMORYSTATUSEX = MEMORYSTATUSEX*;

// The basic form has SIZE_T fields, as 64-bit Windows: it reports the same
// totals as the extended form.
struct MEMORYSTATUS {
    DWORD dwLength;
    DWORD dwMemoryLoad;
    SIZE_T dwTotalPhys;
    SIZE_T dwAvailPhys;
    SIZE_T dwTotalPageFile;
    SIZE_T dwAvailPageFile;
    SIZE_T dwTotalVirtual;
    SIZE_T dwAvailVirtual;
};
using LPMEMORYSTATUS = MEMORYSTATUS*;

namespace zeb {

// Physical memory and swap, in bytes, as GlobalMemoryStatusEx reports them.
struct PhysicalMemory {
    DWORDLONG total = 0;     // the machine's, or the cgroup's limit when lower
    DWORDLONG available = 0; // what can be had without swapping
    DWORDLONG swapTotal = 0;
    DWORDLONG swapFree = 0;
};

// Reads the figures from a /proc tree and a cgroup file-system root: "/proc"
// and "/sys/fs/cgroup" for this process (tests pass copies). False when
// <procRoot>/meminfo gives no MemTotal.
bool readPhysicalMemory(const std::string& procRoot, const std::string& cgroupRoot,
                        PhysicalMemory& out);

} // namespace zeb

// FALSE with ERROR_INVALID_PARAMETER when status is null or dwLength is not
// sizeof(MEMORYSTATUSEX); FALSE with ERROR_READ_FAULT when /proc/meminfo
// cannot be read.
BOOL GlobalMemoryStatusEx(LPMEMORYSTATUSEX status);
void GlobalMemoryStatus(LPMEMORYSTATUS status); // fills zeros when the status is unavailable
