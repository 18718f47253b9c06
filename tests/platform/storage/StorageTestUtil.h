// Helpers for the storage tests: write and read whole streams, list a tree.
#pragma once

#include "platform/com/ComPtr.h"
#include "platform/com/TaskAllocator.h"
#include "platform/storage/Storage.h"
#include "platform/win/TextConvert.h"

#include <map>
#include <string>

namespace zeb::test {

constexpr DWORD kRw = STGM_READWRITE | STGM_SHARE_EXCLUSIVE;
constexpr DWORD kNew = STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE;
constexpr DWORD kRead = STGM_READ | STGM_SHARE_EXCLUSIVE;

inline std::u16string w(const std::string& s) {
    return toWide(s);
}

inline HRESULT putStream(IStorage* stg, const std::u16string& name, const std::string& bytes) {
    ComPtr<IStream> s;
    HRESULT hr = stg->CreateStream(name.c_str(), kNew, 0, 0, &s);
    if (FAILED(hr)) return hr;
    ULONG put = 0;
    hr = s->Write(bytes.data(), static_cast<ULONG>(bytes.size()), &put);
    return FAILED(hr) ? hr : (put == bytes.size() ? S_OK : E_FAIL);
}

inline std::string getStream(IStorage* stg, const std::u16string& name, HRESULT* result = nullptr) {
    ComPtr<IStream> s;
    HRESULT hr = stg->OpenStream(name.c_str(), nullptr, kRead, 0, &s);
    if (result) *result = hr;
    if (FAILED(hr)) return {};
    STATSTG st{};
    s->Stat(&st, STATFLAG_NONAME);
    std::string out(static_cast<size_t>(st.cbSize.QuadPart), '\0');
    ULONG got = 0;
    s->Read(out.data(), static_cast<ULONG>(out.size()), &got);
    out.resize(got);
    return out;
}

// The tree as "path" -> "S" for storages, or the bytes of streams.
inline void listTree(IStorage* stg, const std::string& prefix,
                     std::map<std::string, std::string>& out) {
    ComPtr<IEnumSTATSTG> e;
    if (FAILED(stg->EnumElements(0, nullptr, 0, &e))) return;
    STATSTG st{};
    while (e->Next(1, &st, nullptr) == S_OK) {
        std::u16string name = st.pwcsName;
        CoTaskMemFree(st.pwcsName);
        std::string path = prefix + toNarrow(name);
        if (st.type == STGTY_STREAM) {
            out[path] = getStream(stg, name);
        } else {
            out[path] = "S";
            ComPtr<IStorage> sub;
            if (SUCCEEDED(stg->OpenStorage(name.c_str(), nullptr, kRead, nullptr, 0, &sub)))
                listTree(sub, path + "/", out);
        }
    }
}

} // namespace zeb::test
