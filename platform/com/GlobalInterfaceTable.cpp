#include "platform/com/GlobalInterfaceTable.h"

#include "platform/com/BuiltInClasses.h"
#include "platform/com/ClassFactory.h"

#include <mutex>
#include <new>
#include <unordered_map>

namespace zeb {

namespace {

// The one table of the process. Entries hold one reference each. Never
// destroyed: objects still registered at exit may live in libraries whose
// code is gone by the time static destructors run.
struct Table {
    std::mutex mutex;
    std::unordered_map<DWORD, IUnknown*> entries;
    DWORD lastCookie = 0;
};

Table& table() {
    static Table* t = new Table;
    return *t;
}

// A view of the table. Both classes hand out one long-lived object each; its
// reference count has no effect on its life.
class GlobalInterfaceTable final : public IZEBGlobalInterfaceTable {
public:
    explicit constexpr GlobalInterfaceTable(bool answersProductIid) noexcept
        : m_answersProductIid(answersProductIid) {}

    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (riid == IID_IUnknown || riid == IID_IGlobalInterfaceTable ||
            (m_answersProductIid && riid == IID_IZEBGlobalInterfaceTable)) {
            *ppv = static_cast<IZEBGlobalInterfaceTable*>(this);
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return 2; }
    ULONG Release() override { return 1; }

    HRESULT RegisterInterfaceInGlobal(IUnknown* unknown, REFIID riid, DWORD* cookie) override {
        if (!cookie) return E_INVALIDARG;
        *cookie = 0;
        if (!unknown) return E_INVALIDARG;
        // Kept as the asked interface (which also proves the object has it).
        IUnknown* held = nullptr;
        HRESULT hr = unknown->QueryInterface(riid, reinterpret_cast<void**>(&held));
        if (FAILED(hr)) return hr;
        if (!held) return E_UNEXPECTED;
        try {
            Table& t = table();
            std::lock_guard lock(t.mutex);
            DWORD id = t.lastCookie;
            do {
                ++id;
            } while (id == 0 || t.entries.count(id));
            t.entries.emplace(id, held);
            t.lastCookie = id;
            *cookie = id;
            return S_OK;
        } catch (const std::bad_alloc&) {
            held->Release();
            return E_OUTOFMEMORY;
        }
    }

    HRESULT RevokeInterfaceFromGlobal(DWORD cookie) override {
        IUnknown* held = nullptr;
        {
            Table& t = table();
            std::lock_guard lock(t.mutex);
            auto it = t.entries.find(cookie);
            if (it == t.entries.end()) return E_INVALIDARG;
            held = it->second;
            t.entries.erase(it);
        }
        // Outside the lock: the last Release may run code that uses the table.
        held->Release();
        return S_OK;
    }

    HRESULT GetInterfaceFromGlobal(DWORD cookie, REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        IUnknown* held = nullptr;
        {
            Table& t = table();
            std::lock_guard lock(t.mutex);
            auto it = t.entries.find(cookie);
            if (it == t.entries.end()) return E_INVALIDARG;
            held = it->second;
            held->AddRef(); // a concurrent revoke cannot free it under us
        }
        HRESULT hr = held->QueryInterface(riid, ppv);
        held->Release();
        if (FAILED(hr)) *ppv = nullptr;
        return hr;
    }

private:
    bool m_answersProductIid;
};

constinit GlobalInterfaceTable g_standardTable{false};
constinit GlobalInterfaceTable g_productTable{true};

// Creators for zeb::ClassFactory: every creation yields the same object.
struct StandardTableClass {
    static HRESULT createInstance(IUnknown* outer, REFIID riid, void** ppv) {
        if (outer) return CLASS_E_NOAGGREGATION;
        return g_standardTable.QueryInterface(riid, ppv);
    }
};
struct ProductTableClass {
    static HRESULT createInstance(IUnknown* outer, REFIID riid, void** ppv) {
        if (outer) return CLASS_E_NOAGGREGATION;
        return g_productTable.QueryInterface(riid, ppv);
    }
};

[[maybe_unused]] const bool g_registered =
    BuiltInClasses::add(CLSID_StdGlobalInterfaceTable, u"", &classObjectOf<StandardTableClass>) &&
    BuiltInClasses::add(CLSID_ZEBGlobalInterfaceTableMTA, u"", &classObjectOf<ProductTableClass>);

} // namespace

} // namespace zeb
