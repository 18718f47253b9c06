// The system message table: the texts of the common result codes and Win32
// error numbers, read through FormatMessage as on Windows.
//
//   char* text = nullptr;
//   DWORD n = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
//                                FORMAT_MESSAGE_IGNORE_INSERTS,
//                            nullptr, E_FAIL, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
//                            reinterpret_cast<LPSTR>(&text), 0, nullptr);
//   // n == 19, text == "Unspecified error\r\n"
//   LocalFree(text);
//
// Texts end in "\r\n" as on Windows. A code of the Win32 facility
// (HRESULT_FROM_WIN32(e), 0x8007xxxx) has the text of the error number e.
// Inserts ("%1") are left in place with FORMAT_MESSAGE_IGNORE_INSERTS; this
// table does not fill them, so without that flag a text with an insert
// fails with ERROR_INVALID_PARAMETER. Only FORMAT_MESSAGE_FROM_SYSTEM is a
// source here; the width bits (FORMAT_MESSAGE_MAX_WIDTH_MASK) are ignored.
// The texts are English: a language other than neutral or English fails with
// ERROR_RESOURCE_LANG_NOT_FOUND. A code without a text fails with
// ERROR_MR_MID_NOT_FOUND. Failures return 0 and set the thread's last error.
#pragma once

#include "platform/win/WinTypes.h"

#include <cstdarg>

using HLOCAL = void*;

constexpr DWORD FORMAT_MESSAGE_ALLOCATE_BUFFER = 0x00000100;
constexpr DWORD FORMAT_MESSAGE_IGNORE_INSERTS = 0x00000200;
constexpr DWORD FORMAT_MESSAGE_FROM_STRING = 0x00000400;
constexpr DWORD FORMAT_MESSAGE_FROM_HMODULE = 0x00000800;
constexpr DWORD FORMAT_MESSAGE_FROM_SYSTEM = 0x00001000;
constexpr DWORD FORMAT_MESSAGE_ARGUMENT_ARRAY = 0x00002000;
constexpr DWORD FORMAT_MESSAGE_MAX_WIDTH_MASK = 0x000000FF;

constexpr WORD LANG_NEUTRAL = 0x00;
constexpr WORD LANG_ENGLISH = 0x09;
constexpr WORD SUBLANG_NEUTRAL = 0x00;
constexpr WORD SUBLANG_DEFAULT = 0x01;
constexpr WORD SUBLANG_SYS_DEFAULT = 0x02;
constexpr WORD SUBLANG_ENGLISH_US = 0x01;
constexpr DWORD MAKELANGID(WORD primary, WORD sub) {
    return DWORD(sub) << 10 | primary;
}

constexpr LONG ERROR_MR_MID_NOT_FOUND = 317;
constexpr LONG ERROR_RESOURCE_LANG_NOT_FOUND = 1815;

constexpr UINT LMEM_FIXED = 0x0000;
constexpr UINT LMEM_ZEROINIT = 0x0040;

// Writes the text of `messageId` to `buffer` (capacity `size` characters) or,
// with FORMAT_MESSAGE_ALLOCATE_BUFFER, stores a LocalAlloc'ed copy in
// *(LPSTR*)buffer for the caller to LocalFree. Returns the characters written
// without the terminating zero; 0 on failure (GetLastError says why:
// ERROR_MR_MID_NOT_FOUND, ERROR_RESOURCE_LANG_NOT_FOUND,
// ERROR_INSUFFICIENT_BUFFER, ERROR_INVALID_PARAMETER, ERROR_NOT_ENOUGH_MEMORY).
// `source` and `arguments` are not used.
DWORD FormatMessageA(DWORD flags, LPCVOID source, DWORD messageId, DWORD languageId, LPSTR buffer,
                     DWORD size, va_list* arguments);
DWORD FormatMessageW(DWORD flags, LPCVOID source, DWORD messageId, DWORD languageId, LPWSTR buffer,
                     DWORD size, va_list* arguments);

// Local memory: a plain heap block. LocalFree returns null on success (also
// for null) and never fails otherwise.
HLOCAL LocalAlloc(UINT flags, size_t bytes);
HLOCAL LocalFree(HLOCAL memory);

// The debugger output: written to standard error as it is.
void OutputDebugStringA(LPCSTR text);
