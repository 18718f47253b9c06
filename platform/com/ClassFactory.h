// Class factories and a module's DllGetClassObject.
//
// zeb::ClassFactory<T> is the class object of T: its CreateInstance calls
// T::createInstance(outer, riid, ppv) (zeb::ComObject provides it), and
// LockServer locks the module. There is one factory per class, living as long
// as the module; every reference to it counts as a module lock, so a module
// is never unloaded under a caller that still holds its factory.
//
// A plugin library exposes its classes in two short functions:
//
//   extern "C" HRESULT DllGetClassObject(REFCLSID clsid, REFIID riid, void** ppv) {
//       static constexpr zeb::ClassEntry classes[] = {
//           zeb::classEntry<CWidget>(CLSID_Widget),
//           zeb::classEntry<CGadget>(CLSID_Gadget),
//       };
//       return zeb::getClassObject(classes, clsid, riid, ppv);
//   }
//   extern "C" HRESULT DllCanUnloadNow() { return zeb::thisModule().canUnloadNow(); }
//
// getClassObject answers CLASS_E_CLASSNOTAVAILABLE for a class not in the
// table, E_POINTER for a null out-pointer, and the factory's QueryInterface
// result otherwise (IUnknown and IClassFactory).
#pragma once

#include "platform/com/ModuleCounter.h"
#include "platform/com/Unknown.h"

#include <atomic>
#include <new>
#include <span>

namespace zeb {

template <class T> class ClassFactory final : public IClassFactory {
public:
    static ClassFactory& instance() noexcept {
        static constinit ClassFactory factory;
        return factory;
    }

    HRESULT QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (riid != IID_IUnknown && riid != IID_IClassFactory) return E_NOINTERFACE;
        *ppv = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    ULONG AddRef() override {
        thisModule().lock();
        return m_refs.fetch_add(1, std::memory_order_relaxed) + 1;
    }
    ULONG Release() override {
        const ULONG left = m_refs.fetch_sub(1, std::memory_order_acq_rel) - 1;
        thisModule().unlock();
        return left;
    }

    HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        try {
            return T::createInstance(outer, riid, ppv);
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        } catch (...) {
            return E_FAIL;
        }
    }
    HRESULT LockServer(BOOL lock) override {
        if (lock)
            thisModule().lock();
        else
            thisModule().unlock();
        return S_OK;
    }

private:
    constexpr ClassFactory() noexcept = default;
    std::atomic<ULONG> m_refs{0};
};

// The class object of one class: `getClassObject(riid, ppv)` answers it.
struct ClassEntry {
    CLSID clsid;
    HRESULT (*getClassObject)(REFIID riid, void** ppv);
};

template <class T> HRESULT classObjectOf(REFIID riid, void** ppv) {
    return ClassFactory<T>::instance().QueryInterface(riid, ppv);
}

template <class T> constexpr ClassEntry classEntry(const CLSID& clsid) {
    return ClassEntry{clsid, &classObjectOf<T>};
}

inline HRESULT getClassObject(std::span<const ClassEntry> classes, REFCLSID clsid, REFIID riid,
                              void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    for (const ClassEntry& entry : classes)
        if (entry.clsid == clsid) return entry.getClassObject(riid, ppv);
    return CLASS_E_CLASSNOTAVAILABLE;
}

} // namespace zeb
