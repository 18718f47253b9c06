// The system's settings below "SOFTWARE\Norvale\ZEB\4.1\ES-Basis", and the
// accessors with their defaults (where each lives in the registry store:
// ext/k4toolax/k4toolax.h).
//
// Cached accessors read once per process: the first result is kept for the
// life of the process, so a changed setting takes effect in a new process.
// Concurrent first calls agree on one result (texts are published with one
// compare-and-exchange; flags are stored as one atomic byte after the read).
// Uncached accessors read the store on every call. A setting that cannot be
// read yields the accessor's default; nothing is reported. Every function is
// safe from any thread. Texts are UTF-8; directories are joined with '/'.
#pragma once

#include "platform/win/WinTypes.h"

#include <string>
#include <string_view>

class CCoBasisEsSettings {
public:
    virtual ~CCoBasisEsSettings() = default;

    // getString/getValue of CCoSettings for the path
    // "SOFTWARE\Norvale\ZEB\4.1\ES-Basis\" + name; 0 on success.
    static LONG getString(int location, std::u16string_view name, std::u16string& text);
    static LONG getValue(int location, std::u16string_view name, DWORD& value);

    // Cached. The product directory ("ProductDir" of the product key), '/',
    // and the ES-Basis text "ConfigDir" when present; empty when the product
    // directory cannot be read.
    static std::string configurationDirectory();
    // Cached. As configurationDirectory with the ES-Basis text "ConvertDir".
    static std::string conversionDirectory();
    // Cached. "DataBaseProvider" of the product key; "Microsoft.Jet.OLEDB.4.0"
    // when it cannot be read.
    static std::string databaseProvider();
    // Cached. The configuration name of the settings module in upper case
    // (letters a to z); "ES" when it is empty or cannot be read.
    static std::string configurationName();

    // Uncached. False only when "useV9OD\DoNotUseV9OD" reads as nonzero.
    static bool useV9OnlineData();
    // Uncached. Reads "objcache\count_max" into `count`, then
    // "objcache\time_max_seconds" into `seconds`; true only when both were
    // read. `count` is set even when the time cannot be read.
    static bool objectCacheLimits(DWORD& count, DWORD& seconds);
    // Uncached. "CreateThreadTimeOut"; 0 when it cannot be read.
    static DWORD threadCreationTimeout();

    // Cached, user setting (location 2). True only when "UseOnlineContext" is 1.
    static bool useOnlineContext();
    // Cached, user setting. Enabled unless "DisableMemoryCheck" is 1.
    static bool memoryCheckEnabled();
    // Cached, user setting. True unless "KeepProjectBackupFile" reads as 0.
    static bool keepProjectBackupFile();

    // Uncached. True only when "rtmm\active" is 1.
    static bool useMemoryTracer();
    // Uncached. True only when "SaveAsync" is 1: saves are deferred to a timer.
    static bool saveAsync();
    // Uncached. True only when "tracecalls\active" is 1.
    static bool traceCallsActive();
};
