// Task-allocated copies that the sample components hand out: the caller
// frees every string and list with CoTaskMemFree, so each one is a block of
// its own.
//
//   *ppName = zeb::samples::taskStrDup("SampleDrive.1.0");
//   return zeb::samples::taskListCopy(kConnectors, pCount, ppList,
//                                     &ZEB_ConnectorProps::lpszName);
//
// The constant tables the lists are copied from point their string fields at
// literals (const_cast only to fit the entry layout; nothing writes through
// them); taskListCopy replaces each of those fields by a task-allocated copy.
#pragma once

#include "platform/com/TaskAllocator.h"
#include "platform/win/WinTypes.h"

#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

namespace zeb::samples {

// A task-allocated copy of text (null when out of memory).
inline char* taskStrDup(const std::string& text) {
    char* copy = static_cast<char*>(CoTaskMemAlloc(text.size() + 1));
    if (copy) std::memcpy(copy, text.c_str(), text.size() + 1);
    return copy;
}

// A task-allocated copy of a zero-terminated UTF-16 text (null for null text
// or when out of memory).
inline LPOLESTR taskWideDup(const OLECHAR* text) {
    if (!text) return nullptr;
    std::u16string_view view(text);
    auto* copy = static_cast<LPOLESTR>(CoTaskMemAlloc((view.size() + 1) * sizeof(OLECHAR)));
    if (copy) std::memcpy(copy, text, (view.size() + 1) * sizeof(OLECHAR));
    return copy;
}

// A literal as a table's LPOLESTR field (see the top of this file).
constexpr LPOLESTR olestr(const OLECHAR* literal) {
    return const_cast<LPOLESTR>(literal);
}

// Copies the n entries at `src` into a new task-allocated list and each
// named string field of every entry into a task-allocated string. n == 0
// gives count 0 and a null list. Out of memory frees whatever was copied
// and leaves count 0 and a null list. The out-pointers must not be null.
template <class T, class... Strings>
HRESULT taskListCopy(const T* src, size_t n, DWORD* pCount, T** ppList, Strings... strings) {
    *pCount = 0;
    *ppList = nullptr;
    if (n == 0) return S_OK;
    auto* list = static_cast<T*>(CoTaskMemAlloc(n * sizeof(T)));
    if (!list) return E_OUTOFMEMORY;
    for (size_t i = 0; i < n; ++i) {
        list[i] = src[i];
        ((list[i].*strings = nullptr), ...);
    }
    bool ok = true;
    for (size_t i = 0; i < n && ok; ++i)
        ((ok = ok && (!(src[i].*strings) ||
                      (list[i].*strings = taskWideDup(src[i].*strings)) != nullptr)),
         ...);
    if (!ok) {
        for (size_t i = 0; i < n; ++i)
            (CoTaskMemFree(list[i].*strings), ...);
        CoTaskMemFree(list);
        return E_OUTOFMEMORY;
    }
    *pCount = static_cast<DWORD>(n);
    *ppList = list;
    return S_OK;
}

// The same for a whole constant table.
template <class T, size_t N, class... Strings>
HRESULT taskListCopy(const T (&src)[N], DWORD* pCount, T** ppList, Strings... strings) {
    return taskListCopy(src, N, pCount, ppList, strings...);
}

} // namespace zeb::samples
