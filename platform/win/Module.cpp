#include "platform/win/Module.h"

#include "platform/win/TextConvert.h"

#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstring>
#include <mutex>
#include <new>
#include <unordered_map>
#include <vector>

namespace {

thread_local DWORD t_lastError = 0;
thread_local std::string t_lastModuleError;

// Handles that LoadLibrary returned and how often, so FreeLibrary and
// GetProcAddress can refuse a handle that is not (or no longer) loaded
// instead of handing it to the dynamic linker.
// Leaked on purpose: libraries may be freed by static destructors at exit.
struct LoadedModules {
    std::mutex mutex;
    std::unordered_map<void*, unsigned> counts;
};
LoadedModules& loaded() {
    static auto* modules = new LoadedModules;
    return *modules;
}

bool endsWithNoCase(const std::string& s, const char* suffix) {
    const size_t n = std::strlen(suffix);
    if (s.size() < n) return false;
    for (size_t i = 0; i < n; ++i)
        if (std::tolower(static_cast<unsigned char>(s[s.size() - n + i])) != suffix[i])
            return false;
    return true;
}

std::string programPath() {
    char buf[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
}

std::string absolute(const std::string& path) {
    if (path.empty() || path[0] == '/') return path;
    char resolved[PATH_MAX];
    return realpath(path.c_str(), resolved) ? std::string(resolved) : path;
}

std::string fileOfLinkMap(const link_map* map) {
    if (!map || !map->l_name || !*map->l_name) return programPath(); // the main program
    return absolute(map->l_name);
}

void failWith(DWORD error, const char* text) {
    t_lastModuleError = text ? text : "";
    SetLastError(error);
}

// Lives in libzebcom.so; its address names this library's file.
const char g_runtimeAnchor = 0;

std::string folderOf(const std::string& file) {
    const auto slash = file.rfind('/');
    return slash == std::string::npos ? std::string() : file.substr(0, slash + 1);
}

// The folders a bare name is looked up in, in order, each once: the calling
// module's, libzebcom.so's, the program's.
std::vector<std::string> searchFolders(const void* caller) {
    std::vector<std::string> folders;
    auto add = [&](const std::string& folder) {
        if (!folder.empty() && std::find(folders.begin(), folders.end(), folder) == folders.end())
            folders.push_back(folder);
    };
    if (caller) add(folderOf(zeb::moduleFileOf(caller)));
    add(folderOf(zeb::moduleFileOf(&g_runtimeAnchor)));
    add(folderOf(programPath()));
    return folders;
}

HMODULE loadMapped(const std::string& windowsName, const void* caller) {
    if (windowsName.empty()) {
        failWith(ERROR_MOD_NOT_FOUND, "empty module name");
        return nullptr;
    }
    const std::string mapped = zeb::mapModuleName(windowsName);
    void* handle = nullptr;
    if (mapped.find('/') == std::string::npos) {
        for (const std::string& folder : searchFolders(caller)) {
            const std::string candidate = folder + mapped;
            if (access(candidate.c_str(), F_OK) != 0) continue;
            handle = dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL);
            if (handle) break;
        }
    }
    if (!handle) handle = dlopen(mapped.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        failWith(ERROR_MOD_NOT_FOUND, dlerror());
        return nullptr;
    }
    std::lock_guard lock(loaded().mutex);
    ++loaded().counts[handle];
    return reinterpret_cast<HMODULE>(handle);
}

bool isLoaded(HMODULE module) {
    std::lock_guard lock(loaded().mutex);
    return loaded().counts.count(module) != 0;
}

} // namespace

DWORD GetLastError() {
    return t_lastError;
}
void SetLastError(DWORD error) {
    t_lastError = error;
}

FARPROC GetProcAddress(HMODULE module, LPCSTR name) {
    if (!module || !isLoaded(module)) {
        failWith(ERROR_INVALID_HANDLE, "not a loaded module");
        return nullptr;
    }
    if (!name) {
        failWith(ERROR_INVALID_PARAMETER, "null entry point name");
        return nullptr;
    }
    dlerror();
    void* symbol = dlsym(module, name);
    if (!symbol) {
        const char* text = dlerror();
        failWith(ERROR_PROC_NOT_FOUND, text ? text : "entry point is null");
        return nullptr;
    }
    return reinterpret_cast<FARPROC>(symbol);
}

BOOL FreeLibrary(HMODULE module) {
    {
        std::lock_guard lock(loaded().mutex);
        auto it = loaded().counts.find(module);
        if (it == loaded().counts.end()) {
            failWith(ERROR_INVALID_HANDLE, "not a loaded module");
            return FALSE;
        }
        if (--it->second == 0) loaded().counts.erase(it);
    }
    if (dlclose(module) != 0) {
        failWith(ERROR_INVALID_HANDLE, dlerror());
        return FALSE;
    }
    return TRUE;
}

DWORD GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size) {
    std::string file;
    if (!module) {
        file = programPath();
    } else {
        link_map* map = nullptr;
        if (!isLoaded(module) || dlinfo(module, RTLD_DI_LINKMAP, &map) != 0 || !map) {
            failWith(ERROR_INVALID_HANDLE, "not a loaded module");
            return 0;
        }
        file = fileOfLinkMap(map);
    }
    if (!buffer || size == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    // As Windows: a name that does not fit is cut, terminated, and the
    // result is the buffer size with ERROR_INSUFFICIENT_BUFFER.
    if (file.size() >= size) {
        std::memcpy(buffer, file.data(), size - 1);
        buffer[size - 1] = '\0';
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return size;
    }
    std::memcpy(buffer, file.c_str(), file.size() + 1);
    SetLastError(ERROR_SUCCESS);
    return static_cast<DWORD>(file.size());
}

namespace zeb {

HMODULE loadLibraryBeside(LPCSTR name, const void* addressInCaller) {
    try {
        return loadMapped(name ? name : "", addressInCaller);
    } catch (const std::bad_alloc&) {
        failWith(ERROR_NOT_ENOUGH_MEMORY, "out of memory");
        return nullptr;
    }
}

HMODULE loadLibraryBeside(LPCWSTR name, const void* addressInCaller) {
    try {
        return loadMapped(zeb::toNarrow(std::u16string_view(name ? name : u"")), addressInCaller);
    } catch (const std::bad_alloc&) {
        failWith(ERROR_NOT_ENOUGH_MEMORY, "out of memory");
        return nullptr;
    }
}

std::string mapModuleName(const std::string& windowsName) {
    if (windowsName.find('/') != std::string::npos || endsWithNoCase(windowsName, ".so"))
        return windowsName;
    std::string stem = windowsName;
    if (endsWithNoCase(stem, ".dll")) stem.resize(stem.size() - 4);
    // Windows names are case-insensitive; the libraries are shipped lower-case.
    std::transform(stem.begin(), stem.end(), stem.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return "lib" + stem + ".so";
}

std::string moduleFileOf(const void* addressInModule) {
    Dl_info info{};
    link_map* map = nullptr;
    if (!addressInModule ||
        !dladdr1(addressInModule, &info, reinterpret_cast<void**>(&map), RTLD_DL_LINKMAP))
        return {};
    return fileOfLinkMap(map);
}

std::string lastModuleError() {
    return t_lastModuleError;
}

} // namespace zeb
