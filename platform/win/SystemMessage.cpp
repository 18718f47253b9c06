#include "platform/win/SystemMessage.h"

#include "platform/win/Module.h"
#include "platform/win/TextConvert.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <unistd.h>

namespace {

struct Message {
    DWORD id;
    const char* text;
};

// Sorted by id. Win32 error numbers appear once, as plain numbers; their
// HRESULT form (0x8007xxxx) is resolved to them.
constexpr Message kMessages[] = {
    {0, "The operation completed successfully.\r\n"},
    {1, "Incorrect function.\r\n"},
    {2, "The system cannot find the file specified.\r\n"},
    {3, "The system cannot find the path specified.\r\n"},
    {4, "The system cannot open the file.\r\n"},
    {5, "Access is denied.\r\n"},
    {6, "The handle is invalid.\r\n"},
    {8, "Not enough memory resources are available to process this command.\r\n"},
    {11, "An attempt was made to load a program with an incorrect format.\r\n"},
    {12, "The access code is invalid.\r\n"},
    {13, "The data is invalid.\r\n"},
    {14, "Not enough memory resources are available to complete this operation.\r\n"},
    {29, "The system cannot write to the specified device.\r\n"},
    {30, "The system cannot read from the specified device.\r\n"},
    {32, "The process cannot access the file because it is being used by another process.\r\n"},
    {33, "The process cannot access the file because another process has locked a portion of "
         "the file.\r\n"},
    {38, "Reached the end of the file.\r\n"},
    {50, "The request is not supported.\r\n"},
    {80, "The file exists.\r\n"},
    {87, "The parameter is incorrect.\r\n"},
    {112, "There is not enough space on the disk.\r\n"},
    {122, "The data area passed to a system call is too small.\r\n"},
    {123, "The filename, directory name, or volume label syntax is incorrect.\r\n"},
    {126, "The specified module could not be found.\r\n"},
    {127, "The specified procedure could not be found.\r\n"},
    {183, "Cannot create a file when that file already exists.\r\n"},
    {234, "More data is available.\r\n"},
    {259, "No more data is available.\r\n"},
    {317, "The system cannot find message text for message number 0x%1 in the message file for "
          "%2.\r\n"},
    {1004, "Invalid flags.\r\n"},
    {1009, "The configuration registry database is corrupt.\r\n"},
    {1010, "The configuration registry key is invalid.\r\n"},
    {1012, "The configuration registry key could not be read.\r\n"},
    {1013, "The configuration registry key could not be written.\r\n"},
    {1018, "Illegal operation attempted on a registry key that has been marked for deletion.\r\n"},
    {1168, "Element not found.\r\n"},
    {1460, "This operation returned because the timeout period expired.\r\n"},
    {1815, "The specified resource language ID cannot be found in the image file.\r\n"},
    {0x8000000A, "The data necessary to complete this operation is not yet available.\r\n"},
    {0x80004001, "Not implemented\r\n"},
    {0x80004002, "No such interface supported\r\n"},
    {0x80004003, "Invalid pointer\r\n"},
    {0x80004004, "Operation aborted\r\n"},
    {0x80004005, "Unspecified error\r\n"},
    {0x8000FFFF, "Catastrophic failure\r\n"},
    {0x8001010E, "The application called an interface that was marshalled for a different "
                 "thread.\r\n"},
    {0x80020001, "Unknown interface.\r\n"},
    {0x80020003, "Member not found.\r\n"},
    {0x80020004, "Parameter not found.\r\n"},
    {0x80020005, "Type mismatch.\r\n"},
    {0x80020006, "Unknown name.\r\n"},
    {0x80020008, "Bad variable type.\r\n"},
    {0x80020009, "Exception occurred.\r\n"},
    {0x8002000A, "Out of present range.\r\n"},
    {0x8002000B, "Invalid index.\r\n"},
    {0x8002000D, "Memory is locked.\r\n"},
    {0x8002000E, "Invalid number of parameters.\r\n"},
    {0x8002802B, "Element not found.\r\n"},
    {0x80030001, "Unable to perform requested operation.\r\n"},
    {0x80030002, "%1 could not be found.\r\n"},
    {0x80030003, "The path %1 could not be found.\r\n"},
    {0x80030004, "There are insufficient resources to open another file.\r\n"},
    {0x80030005, "Access Denied.\r\n"},
    {0x80030006, "Attempted an operation on an invalid object.\r\n"},
    {0x80030008, "There is insufficient memory available to complete operation.\r\n"},
    {0x80030009, "Invalid pointer error.\r\n"},
    {0x80030012, "There are no more entries to return.\r\n"},
    {0x80030013, "Disk is write-protected.\r\n"},
    {0x80030019, "An error occurred during a seek operation.\r\n"},
    {0x8003001D, "A disk error occurred during a write operation.\r\n"},
    {0x8003001E, "A disk error occurred during a read operation.\r\n"},
    {0x80030020, "A share violation has occurred.\r\n"},
    {0x80030021, "A lock violation has occurred.\r\n"},
    {0x80030050, "%1 already exists.\r\n"},
    {0x80030057, "Invalid parameter error.\r\n"},
    {0x80030070, "There is insufficient disk space to complete operation.\r\n"},
    {0x800300FA, "An API call exited abnormally.\r\n"},
    {0x800300FB, "The file %1 is not a valid compound file.\r\n"},
    {0x800300FC, "The name %1 is not valid.\r\n"},
    {0x800300FD, "An unexpected error occurred.\r\n"},
    {0x800300FE, "That function is not implemented.\r\n"},
    {0x800300FF, "Invalid flag error.\r\n"},
    {0x80030100, "Attempted to use an object that is busy.\r\n"},
    {0x80030101, "The storage has been changed since the last commit.\r\n"},
    {0x80030102, "Attempted to use an object that has ceased to exist.\r\n"},
    {0x80030103, "Can't save.\r\n"},
    {0x80030104, "The compound file %1 was produced with an incompatible version of storage.\r\n"},
    {0x80030105, "The compound file %1 was produced with a newer version of storage.\r\n"},
    {0x80030106, "Share.exe or equivalent is required for operation.\r\n"},
    {0x80030107, "Illegal operation called on non-file based storage.\r\n"},
    {0x80030108, "Illegal operation called on object with extant marshallings.\r\n"},
    {0x80030109, "The docfile has been corrupted.\r\n"},
    {0x80030201, "The file download was aborted abnormally. The file is incomplete.\r\n"},
    {0x80030202, "The file download has been terminated.\r\n"},
    {0x80040110, "Class does not support aggregation (or class object is remote)\r\n"},
    {0x80040111, "ClassFactory cannot supply requested class\r\n"},
    {0x80040150, "Could not read key from registry\r\n"},
    {0x80040154, "Class not registered\r\n"},
    {0x800401F0, "CoInitialize has not been called.\r\n"},
    {0x800401F3, "Invalid class string\r\n"},
    {0x800401F8, "DLL for class not found\r\n"},
    {0x800401F9, "Error in the DLL\r\n"},
    {0x800401FB, "Object is not registered\r\n"},
    {0x80080005, "Server execution failed\r\n"},
};

constexpr bool sortedById() {
    for (size_t i = 1; i < std::size(kMessages); ++i)
        if (kMessages[i - 1].id >= kMessages[i].id) return false;
    return true;
}
static_assert(sortedById(), "the message table is searched by bisection");

const char* findText(DWORD id) {
    auto lookup = [](DWORD key) -> const char* {
        auto it = std::lower_bound(std::begin(kMessages), std::end(kMessages), key,
                                   [](const Message& m, DWORD k) { return m.id < k; });
        return it != std::end(kMessages) && it->id == key ? it->text : nullptr;
    };
    if (const char* text = lookup(id)) return text;
    if ((id & 0xFFFF0000u) == 0x80070000u) return lookup(id & 0xFFFFu); // HRESULT_FROM_WIN32
    return nullptr;
}

// The text for a call, or null with the last error set.
const char* textFor(DWORD flags, DWORD messageId, DWORD languageId, bool bufferGiven) {
    if (!(flags & FORMAT_MESSAGE_FROM_SYSTEM) ||
        (flags & (FORMAT_MESSAGE_FROM_STRING | FORMAT_MESSAGE_FROM_HMODULE)) || !bufferGiven) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    WORD primary = WORD(languageId & 0x3FF);
    if (primary != LANG_NEUTRAL && primary != LANG_ENGLISH) {
        SetLastError(ERROR_RESOURCE_LANG_NOT_FOUND);
        return nullptr;
    }
    const char* text = findText(messageId);
    if (!text) {
        SetLastError(ERROR_MR_MID_NOT_FOUND);
        return nullptr;
    }
    if (!(flags & FORMAT_MESSAGE_IGNORE_INSERTS) && std::strchr(text, '%')) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    return text;
}

// Hands `text` (length characters, no terminator) out as FormatMessage does.
template <class Char>
DWORD deliver(DWORD flags, const Char* text, size_t length, Char* buffer, DWORD size) {
    if (flags & FORMAT_MESSAGE_ALLOCATE_BUFFER) {
        auto* copy = static_cast<Char*>(LocalAlloc(LMEM_FIXED, (length + 1) * sizeof(Char)));
        if (!copy) {
            SetLastError(ERROR_NOT_ENOUGH_MEMORY);
            return 0;
        }
        std::memcpy(copy, text, length * sizeof(Char));
        copy[length] = 0;
        *reinterpret_cast<Char**>(buffer) = copy;
        return DWORD(length);
    }
    if (length + 1 > size) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::memcpy(buffer, text, length * sizeof(Char));
    buffer[length] = 0;
    return DWORD(length);
}

} // namespace

DWORD FormatMessageA(DWORD flags, LPCVOID, DWORD messageId, DWORD languageId, LPSTR buffer,
                     DWORD size, va_list*) {
    const char* text = textFor(flags, messageId, languageId, buffer != nullptr);
    if (!text) return 0;
    return deliver(flags, text, std::strlen(text), buffer, size);
}

DWORD FormatMessageW(DWORD flags, LPCVOID, DWORD messageId, DWORD languageId, LPWSTR buffer,
                     DWORD size, va_list*) {
    const char* text = textFor(flags, messageId, languageId, buffer != nullptr);
    if (!text) return 0;
    try {
        std::u16string wide = zeb::toWide(text);
        return deliver(flags, wide.data(), wide.size(), buffer, size);
    } catch (...) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
}

HLOCAL LocalAlloc(UINT flags, size_t bytes) {
    if (bytes == 0) bytes = 1;
    return (flags & LMEM_ZEROINIT) ? std::calloc(1, bytes) : std::malloc(bytes);
}

HLOCAL LocalFree(HLOCAL memory) {
    std::free(memory);
    return nullptr;
}

void OutputDebugStringA(LPCSTR text) {
    if (!text) return;
    size_t length = std::strlen(text);
    while (length > 0) {
        ssize_t n = ::write(2, text, length);
        if (n <= 0) return;
        text += n;
        length -= size_t(n);
    }
}
