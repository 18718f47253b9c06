// The settings module "k4toolax": reads settings from the registry store
// (platform/win/Registry.h) by location, base and path.
//
// Where settings live
// -------------------
// The product key is "SOFTWARE\Norvale\ZEB\4.1". A setting is named by a
// location value, a base value and a path:
//
//   location  root key(s), searched in this order
//   --------  ----------------------------------------------------------
//       1     HKEY_CURRENT_USER
//       2     HKEY_LOCAL_MACHINE
//       3     HKEY_CURRENT_USER, then HKEY_LOCAL_MACHINE
//      16     HKEY_CURRENT_USER\SOFTWARE\Norvale\ZEB\4.1
//      17     HKEY_LOCAL_MACHINE\SOFTWARE\Norvale\ZEB\4.1
//      18     HKEY_CURRENT_USER\SOFTWARE\Norvale\ZEB\4.1, then
//             HKEY_LOCAL_MACHINE\SOFTWARE\Norvale\ZEB\4.1
//    other    none: every read fails with ERROR_INVALID_PARAMETER
//
//   base      key below each root
//   --------  ----------------------------------------------------------
//       0     the root itself
//       1     "Trace" (the diagnostics switches)
//    other    none: every read fails with ERROR_INVALID_PARAMETER
//
// A path "a\b\name" names the value "name" of the key "a\b" below the root
// and base; "name" alone names a value of that key itself, and "a\b\" the
// default value of "a\b". With two roots the user's setting wins: the
// machine's key is asked only when the user's key or value does not exist.
//
// The system reads its settings as follows (system location -> library
// location: 0 -> 1, 1 -> 2, 2 -> 3, 10 -> 16, 11 -> 17, 12 -> 18, any
// other -> 0), so in the registry file:
//
//   [HKEY_LOCAL_MACHINE\SOFTWARE\Norvale\ZEB\4.1]
//   "ProductDir"="/opt/zeb"                 product directory
//   "DataBaseProvider"="..."                database provider
//   "Configuration"="es"                    configuration name (also per user)
//
//   [HKEY_LOCAL_MACHINE\SOFTWARE\Norvale\ZEB\4.1\ES-Basis]
//   "ConfigDir"="config"                    <ProductDir>/config is the configuration directory
//   "ConvertDir"="convert"                  <ProductDir>/convert is the conversion directory
//   "SaveAsync"=dword:00000001              saves wait for a two-minute timer
//   "CreateThreadTimeOut"=dword:...         thread creation time-out
//   "STORAGE_MODE"=dword:...                memory storages: 0 global memory, 1 or 3
//                                           temporary file, 2 or absent block store
//   "PURIFY_MODE"=dword:00000001            allocation pools bypassed
//                                           (these two are read by co/ directly,
//                                           machine key only)
//
//   [HKEY_LOCAL_MACHINE\SOFTWARE\Norvale\ZEB\4.1\ES-Basis\objcache]
//   "count_max"=dword:...  "time_max_seconds"=dword:...   object-cache limits
//   [...\ES-Basis\rtmm]        "active"=dword:00000001     memory tracer marks
//   [...\ES-Basis\tracecalls]  "active"=dword:00000001     call tracing
//   [...\ES-Basis\useV9OD]     "DoNotUseV9OD"=dword:1      V9 online data off
//
//   [HKEY_CURRENT_USER or HKEY_LOCAL_MACHINE \SOFTWARE\Norvale\ZEB\4.1\ES-Basis]
//   "UseOnlineContext"=dword:1, "DisableMemoryCheck"=dword:1,
//   "KeepProjectBackupFile"=dword:0         per-user, with a machine default
//
//   [HKEY_CURRENT_USER or HKEY_LOCAL_MACHINE \SOFTWARE\Norvale\ZEB\4.1\Trace]
//   "silent-trace"=dword:00000001           unreleased trace levels go to the
//                                           silent channel of the trace sink
//
// Values
// ------
// SettingGetString reads REG_SZ and REG_EXPAND_SZ values (not expanded);
// SettingGetValue reads REG_DWORD values. Results are Win32 error numbers:
//   ERROR_SUCCESS            read; the output is set
//   ERROR_FILE_NOT_FOUND     no such key or value at any root
//   ERROR_INVALID_DATA       the value exists with another type
//   ERROR_INVALID_PARAMETER  unknown location or base, empty path, null pointer
//   ERROR_MORE_DATA          (K4TL_GetConfiguration) the buffer is too small
//   ERROR_NOT_ENOUGH_MEMORY  out of memory
// The output is left unchanged on failure. Nothing is cached: every call
// reads the store as it is now. All functions may be called from any thread
// and never throw.
#pragma once

#include "ext/k4toolax/SettingPath.h"

namespace k4tl {

// Reads a text setting into `out`.
K4TL_API LONG SettingGetString(const SettingPath& path, std::u16string& out);
// Reads a 32-bit setting into `out`.
K4TL_API LONG SettingGetValue(const SettingPath& path, DWORD& out);

} // namespace k4tl

extern "C" {

// Flat form of SettingGetValue for callers that resolve it at run time.
K4TL_API LONG K4TL_SettingGetValue(DWORD location, DWORD base, const char16_t* key, DWORD* value);

// Copies the configuration name (the "Configuration" text of the product key,
// the user's before the machine's) with its terminating zero into `buffer`.
// On failure `buffer` holds an empty text (when capacity > 0).
K4TL_API LONG K4TL_GetConfiguration(char16_t* buffer, DWORD capacity);
}
