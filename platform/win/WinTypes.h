// Scalar types, result codes and error numbers of the Windows API, with the
// sizes of the 32-bit original. `long` is 64 bits on this platform and must
// never appear in an interface; use LONG/ULONG/DWORD instead.
#pragma once

#include <cstddef>
#include <cstdint>

using BYTE = uint8_t;
using WORD = uint16_t;
using DWORD = uint32_t;
using ULONG = uint32_t;
using UINT = uint32_t;
using USHORT = uint16_t;
using SHORT = int16_t;
using INT = int32_t;
using LONG = int32_t;
using BOOL = int32_t;
using HRESULT = int32_t;
using LONGLONG = int64_t;
using ULONGLONG = uint64_t;
using LCID = uint32_t;
using WCHAR = char16_t;
using OLECHAR = char16_t;
using LPWSTR = WCHAR*;
using LPCWSTR = const WCHAR*;
using LPOLESTR = OLECHAR*;
using LPCOLESTR = const OLECHAR*;
using LPSTR = char*;
using LPCSTR = const char*;
using LPVOID = void*;
using LPCVOID = const void*;
using LPDWORD = DWORD*;
using LPBYTE = BYTE*;
using UINT_PTR = uintptr_t;
using ULONG_PTR = uintptr_t;
using LONG_PTR = intptr_t;
using SIZE_T = size_t;
using DWORDLONG = uint64_t;

// Kernel object handles (events here) and window handles (never real here:
// thread messages carry a null HWND).
using HANDLE = void*;
using LPHANDLE = HANDLE*;
struct HWND__;
using HWND = HWND__*;
using WPARAM = UINT_PTR;
using LPARAM = LONG_PTR;
using LRESULT = LONG_PTR;

static_assert(sizeof(DWORD) == 4 && sizeof(LONG) == 4 && sizeof(HRESULT) == 4 && sizeof(BOOL) == 4);
static_assert(sizeof(WCHAR) == 2);

constexpr BOOL TRUE = 1;
constexpr BOOL FALSE = 0;

constexpr bool SUCCEEDED(HRESULT hr) { return hr >= 0; }
constexpr bool FAILED(HRESULT hr) { return hr < 0; }
constexpr HRESULT MAKE_HRESULT_(uint32_t v) { return static_cast<HRESULT>(v); }

// Common result codes.
constexpr HRESULT S_OK = 0;
constexpr HRESULT S_FALSE = 1;
constexpr HRESULT E_NOTIMPL = MAKE_HRESULT_(0x80004001);
constexpr HRESULT E_NOINTERFACE = MAKE_HRESULT_(0x80004002);
constexpr HRESULT E_POINTER = MAKE_HRESULT_(0x80004003);
constexpr HRESULT E_ABORT = MAKE_HRESULT_(0x80004004);
constexpr HRESULT E_FAIL = MAKE_HRESULT_(0x80004005);
constexpr HRESULT E_UNEXPECTED = MAKE_HRESULT_(0x8000FFFF);
constexpr HRESULT E_ACCESSDENIED = MAKE_HRESULT_(0x80070005);
constexpr HRESULT E_HANDLE = MAKE_HRESULT_(0x80070006);
constexpr HRESULT E_OUTOFMEMORY = MAKE_HRESULT_(0x8007000E);
constexpr HRESULT E_INVALIDARG = MAKE_HRESULT_(0x80070057);
constexpr HRESULT CLASS_E_NOAGGREGATION = MAKE_HRESULT_(0x80040110);
constexpr HRESULT CLASS_E_CLASSNOTAVAILABLE = MAKE_HRESULT_(0x80040111);
constexpr HRESULT REGDB_E_READREGDB = MAKE_HRESULT_(0x80040150);
constexpr HRESULT REGDB_E_CLASSNOTREG = MAKE_HRESULT_(0x80040154);
constexpr HRESULT CO_E_CLASSSTRING = MAKE_HRESULT_(0x800401F3);
constexpr HRESULT CO_E_DLLNOTFOUND = MAKE_HRESULT_(0x800401F8);
constexpr HRESULT CO_E_ERRORINDLL = MAKE_HRESULT_(0x800401F9);
constexpr HRESULT CO_E_OBJNOTREG = MAKE_HRESULT_(0x800401FB);
constexpr HRESULT DISP_E_UNKNOWNINTERFACE = MAKE_HRESULT_(0x80020001);
constexpr HRESULT DISP_E_TYPEMISMATCH = MAKE_HRESULT_(0x80020005);
constexpr HRESULT DISP_E_BADVARTYPE = MAKE_HRESULT_(0x80020008);
constexpr HRESULT DISP_E_OVERFLOW = MAKE_HRESULT_(0x8002000A);
constexpr HRESULT DISP_E_BADINDEX = MAKE_HRESULT_(0x8002000B);
constexpr HRESULT DISP_E_ARRAYISLOCKED = MAKE_HRESULT_(0x8002000D);

// Win32 error numbers (returned by the registry functions) and their HRESULT form.
constexpr LONG ERROR_SUCCESS = 0;
constexpr LONG ERROR_FILE_NOT_FOUND = 2;
constexpr LONG ERROR_PATH_NOT_FOUND = 3;
constexpr LONG ERROR_ACCESS_DENIED = 5;
constexpr LONG ERROR_INVALID_HANDLE = 6;
constexpr LONG ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr LONG ERROR_BAD_FORMAT = 11;
constexpr LONG ERROR_INVALID_DATA = 13;
constexpr LONG ERROR_OUTOFMEMORY = 14;
constexpr LONG ERROR_WRITE_FAULT = 29;
constexpr LONG ERROR_READ_FAULT = 30;
constexpr LONG ERROR_INVALID_PARAMETER = 87;
constexpr LONG ERROR_INSUFFICIENT_BUFFER = 122;
constexpr LONG ERROR_MOD_NOT_FOUND = 126;
constexpr LONG ERROR_PROC_NOT_FOUND = 127;
constexpr LONG ERROR_MORE_DATA = 234;
constexpr LONG ERROR_NO_MORE_ITEMS = 259;
constexpr LONG ERROR_BADDB = 1009;
constexpr LONG ERROR_BADKEY = 1010;
constexpr LONG ERROR_CANTREAD = 1012;
constexpr LONG ERROR_CANTWRITE = 1013;
constexpr LONG ERROR_KEY_DELETED = 1018;
constexpr LONG ERROR_NOT_SUPPORTED = 50;
constexpr LONG ERROR_INVALID_WINDOW_HANDLE = 1400;
constexpr LONG ERROR_INVALID_THREAD_ID = 1444;
constexpr LONG ERROR_NOT_ENOUGH_QUOTA = 1816;

constexpr HRESULT HRESULT_FROM_WIN32(LONG e) {
    return e <= 0 ? static_cast<HRESULT>(e)
                  : static_cast<HRESULT>((static_cast<uint32_t>(e) & 0xFFFFu) | 0x80070000u);
}
