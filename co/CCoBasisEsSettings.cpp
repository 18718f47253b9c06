#include "co/CCoBasisEsSettings.h"

#include "co/CCoSettings.h"
#include "ext/k4toolax/k4toolax.h"
#include "platform/win/TextConvert.h"

#include <atomic>
#include <cstdint>

namespace {

constexpr std::u16string_view kBasisKey = u"SOFTWARE\\Norvale\\ZEB\\4.1\\ES-Basis\\";
constexpr std::u16string_view kProductDir = u"SOFTWARE\\Norvale\\ZEB\\4.1\\ProductDir";
constexpr std::u16string_view kDataBaseProvider = u"SOFTWARE\\Norvale\\ZEB\\4.1\\DataBaseProvider";
constexpr DWORD kConfigurationCapacity = 256;

// A text computed once per process. The first computed value is published
// with a compare-and-exchange; a caller that loses the race drops its own
// candidate and returns the winner's, so every caller sees the same text.
// The published text lives until the process ends.
class PublishedText {
public:
    constexpr PublishedText() = default;

    // Out of memory: an empty text, and nothing is published.
    template <class Compute> std::string get(Compute&& compute) noexcept {
        try {
            if (const std::string* known = m_pText.load(std::memory_order_acquire)) return *known;
            std::string* candidate = new std::string(compute());
            const std::string* expected = nullptr;
            if (m_pText.compare_exchange_strong(expected, candidate, std::memory_order_acq_rel,
                                                std::memory_order_acquire))
                return *candidate;
            delete candidate;
            return *expected;
        } catch (...) {
            return {};
        }
    }

private:
    std::atomic<const std::string*> m_pText{nullptr};
};

// A flag read once per process. The state byte is written only after the
// read, so a concurrent caller either reads the setting itself or sees the
// finished result, never an unset one; concurrent first readers read the
// same setting and store the same byte.
class CachedFlag {
public:
    constexpr CachedFlag() = default;

    template <class Compute> bool get(Compute&& compute) {
        uint8_t state = m_state.load(std::memory_order_acquire);
        if (state == kUnknown) {
            state = compute() ? kTrue : kFalse;
            m_state.store(state, std::memory_order_release);
        }
        return state == kTrue;
    }

private:
    static constexpr uint8_t kUnknown = 0, kFalse = 1, kTrue = 2;
    std::atomic<uint8_t> m_state{kUnknown};
};

constinit PublishedText g_configurationDirectory;
constinit PublishedText g_conversionDirectory;
constinit PublishedText g_databaseProvider;
constinit PublishedText g_configurationName;
constinit CachedFlag g_useOnlineContext;
constinit CachedFlag g_memoryCheckEnabled;
constinit CachedFlag g_keepProjectBackupFile;

// "<ProductDir>/" followed by the ES-Basis text `name` when it exists; empty
// when the product directory cannot be read.
std::string readDirectory(std::u16string_view name) {
    std::u16string productDir;
    if (CCoSettings::getString(1, kProductDir, productDir) != 0) return {};
    std::u16string dir = productDir + u'/';
    std::u16string sub;
    if (CCoBasisEsSettings::getString(1, name, sub) == 0) dir += sub;
    return zeb::toNarrow(dir);
}

std::string readDatabaseProvider() {
    std::u16string text;
    if (CCoSettings::getString(1, kDataBaseProvider, text) != 0) return "Microsoft.Jet.OLEDB.4.0";
    return zeb::toNarrow(text);
}

std::string readConfigurationName() {
    char16_t buffer[kConfigurationCapacity] = {};
    if (K4TL_GetConfiguration(buffer, kConfigurationCapacity) != 0) return "ES";
    buffer[kConfigurationCapacity - 1] = u'\0';
    std::string name = zeb::toNarrow(buffer);
    if (name.empty()) return "ES";
    for (char& c : name)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return name;
}

// True when the value `name` was read at `location` and equals `wanted`.
bool valueIs(int location, std::u16string_view name, DWORD wanted) {
    DWORD value = 0;
    return CCoBasisEsSettings::getValue(location, name, value) == 0 && value == wanted;
}

} // namespace

LONG CCoBasisEsSettings::getString(int location, std::u16string_view name, std::u16string& text) {
    try {
        std::u16string path(kBasisKey);
        path += name;
        return CCoSettings::getString(location, path, text);
    } catch (...) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}

LONG CCoBasisEsSettings::getValue(int location, std::u16string_view name, DWORD& value) {
    try {
        std::u16string path(kBasisKey);
        path += name;
        return CCoSettings::getValue(location, path, value);
    } catch (...) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}

std::string CCoBasisEsSettings::configurationDirectory() {
    return g_configurationDirectory.get([] { return readDirectory(u"ConfigDir"); });
}

std::string CCoBasisEsSettings::conversionDirectory() {
    return g_conversionDirectory.get([] { return readDirectory(u"ConvertDir"); });
}

std::string CCoBasisEsSettings::databaseProvider() {
    return g_databaseProvider.get(readDatabaseProvider);
}

std::string CCoBasisEsSettings::configurationName() {
    return g_configurationName.get(readConfigurationName);
}

bool CCoBasisEsSettings::useV9OnlineData() {
    DWORD value = 0;
    return !(getValue(1, u"useV9OD\\DoNotUseV9OD", value) == 0 && value != 0);
}

bool CCoBasisEsSettings::objectCacheLimits(DWORD& count, DWORD& seconds) {
    if (getValue(1, u"objcache\\count_max", count) != 0) return false;
    return getValue(1, u"objcache\\time_max_seconds", seconds) == 0;
}

DWORD CCoBasisEsSettings::threadCreationTimeout() {
    DWORD value = 0;
    if (getValue(1, u"CreateThreadTimeOut", value) != 0) return 0;
    return value;
}

bool CCoBasisEsSettings::useOnlineContext() {
    return g_useOnlineContext.get([] { return valueIs(2, u"UseOnlineContext", 1); });
}

bool CCoBasisEsSettings::memoryCheckEnabled() {
    return g_memoryCheckEnabled.get([] { return !valueIs(2, u"DisableMemoryCheck", 1); });
}

bool CCoBasisEsSettings::keepProjectBackupFile() {
    return g_keepProjectBackupFile.get([] { return !valueIs(2, u"KeepProjectBackupFile", 0); });
}

bool CCoBasisEsSettings::useMemoryTracer() {
    return valueIs(1, u"rtmm\\active", 1);
}

bool CCoBasisEsSettings::saveAsync() {
    return valueIs(1, u"SaveAsync", 1);
}

bool CCoBasisEsSettings::traceCallsActive() {
    return valueIs(1, u"tracecalls\\active", 1);
}
