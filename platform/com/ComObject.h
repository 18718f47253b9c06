// Writing a COM class: reference counting, QueryInterface, aggregation,
// creation with FinalConstruct/FinalRelease, and module object counts.
//
//   class CWidget final : public zeb::ComObject<CWidget, IWidget, IPersist> {
//   public:
//       HRESULT FinalConstruct();          // optional: runs after the constructor
//       void FinalRelease();               // optional: runs before the destructor
//       // IWidget and IPersist methods; IUnknown is implemented by the base.
//   };
//
//   ComPtr<IWidget> w;
//   HRESULT hr = CWidget::createInstance(nullptr, uuidof<IWidget>(), reinterpret_cast<void**>(&w));
//
// That is all. The base derives from the listed interfaces and answers a
// QueryInterface for IUnknown or any of them (E_NOINTERFACE otherwise; a null
// out-pointer gives E_POINTER; *ppv is null after every failure). The object
// deletes itself (as the most derived type, so no interface needs a virtual
// destructor) when the last reference goes. The class must be `final`.
// To serve the class from a library, see ClassFactory.h.
//
// Choices:
//   - Thread model: zeb::ComObject counts references atomically (any thread);
//     zeb::SingleThreadComObject uses a plain counter, for objects called on
//     one thread only (the "apartment" classes).
//   - Interfaces that derive from others: zeb::Chain<IDerived, IBase...>
//     derives from IDerived once and also answers the IIDs of IBase...:
//         zeb::ComObject<CDoc, zeb::Chain<IDocument2, IDocument, INode>, IOther>
//   - More interfaces at run time (e.g. delegating to an aggregated inner
//     object): define
//         HRESULT queryOtherInterface(REFIID riid, void** ppv);
//     It is asked for every IID the list does not answer; on success it
//     stores an AddRef'd pointer, on failure it returns E_NOINTERFACE.
//   - No aggregation: `static constexpr bool aggregatable = false;` makes a
//     creation with an outer object fail with CLASS_E_NOAGGREGATION.
//
// Aggregation: created with an outer (controlling) IUnknown, the object's
// interfaces delegate QueryInterface/AddRef/Release to the outer object, and
// createInstance hands back a separate inner IUnknown whose methods do not
// delegate (the outer object keeps it and releases it last). An outer object
// may only ask for IUnknown (else CLASS_E_NOAGGREGATION), as COM requires.
// controllingUnknown() is the outer object when aggregated, else the object's
// own IUnknown: pass it on when FinalConstruct aggregates further objects.
//
// Creation (createInstance, createObject, and zeb::ClassFactory):
//   1. the constructor runs (the outer object is not known yet);
//   2. the object takes a guard reference and FinalConstruct runs; it may
//      hand out and drop references without destroying the object;
//   3. the requested interface is queried and the guard reference dropped.
// A throwing constructor gives E_FAIL (E_OUTOFMEMORY for bad_alloc); a failing
// or throwing FinalConstruct, or a failing query, destroys the object, and the
// HRESULT is returned.
// Destruction: when the count reaches zero, FinalRelease runs (also after a
// failed FinalConstruct: it must cope with a half-built object), then the
// destructor. References taken and dropped inside FinalRelease are harmless.
//
// Every live object counts in the module's zeb::thisModule() object count, so
// DllCanUnloadNow answers S_FALSE while one lives.
#pragma once

#include "platform/com/ModuleCounter.h"
#include "platform/com/Unknown.h"

#include <atomic>
#include <limits>
#include <new>
#include <type_traits>
#include <utility>

namespace zeb {

// Reference counts for objects used from any thread.
struct MultiThreadModel {
    using Count = std::atomic<ULONG>;
    static ULONG increment(Count& c) noexcept {
        return c.fetch_add(1, std::memory_order_relaxed) + 1;
    }
    static ULONG decrement(Count& c) noexcept {
        return c.fetch_sub(1, std::memory_order_acq_rel) - 1;
    }
    static void set(Count& c, ULONG v) noexcept { c.store(v, std::memory_order_relaxed); }
    // Increments unless the count is 0 or at least `limit`; false then.
    static bool tryIncrement(Count& c, ULONG limit) noexcept {
        ULONG v = c.load(std::memory_order_relaxed);
        do {
            if (v == 0 || v >= limit) return false;
        } while (!c.compare_exchange_weak(v, v + 1, std::memory_order_acquire,
                                          std::memory_order_relaxed));
        return true;
    }
};

// Reference counts for objects called from one thread only.
struct SingleThreadModel {
    using Count = ULONG;
    static ULONG increment(Count& c) noexcept { return ++c; }
    static ULONG decrement(Count& c) noexcept { return --c; }
    static void set(Count& c, ULONG v) noexcept { c = v; }
    static bool tryIncrement(Count& c, ULONG limit) noexcept {
        if (c == 0 || c >= limit) return false;
        ++c;
        return true;
    }
};

// An interface list entry: derive from Most, answer Most and each of Bases.
template <class Most, class... Bases> struct Chain {};

namespace detail {

template <class E> struct InterfaceEntry {
    static_assert(std::is_base_of_v<IUnknown, E>, "an interface must derive from IUnknown");
    using Base = E;
    template <class Self> static void* find(Self* self, REFIID riid) noexcept {
        return riid == uuidof<E>() ? static_cast<void*>(static_cast<E*>(self)) : nullptr;
    }
};

template <class Most, class... Bases> struct InterfaceEntry<Chain<Most, Bases...>> {
    static_assert(std::is_base_of_v<IUnknown, Most>, "an interface must derive from IUnknown");
    static_assert((std::is_base_of_v<Bases, Most> && ...),
                  "zeb::Chain<I, B...>: every B must be a base of I");
    using Base = Most;
    template <class Self> static void* find(Self* self, REFIID riid) noexcept {
        Most* most = static_cast<Most*>(self);
        if (riid == uuidof<Most>()) return most;
        void* found = nullptr;
        ((found = found ? found
                        : (riid == uuidof<Bases>() ? static_cast<void*>(static_cast<Bases*>(most))
                                                   : nullptr)),
         ...);
        return found;
    }
};

template <class First, class...> struct FirstOf { using Type = First; };

} // namespace detail

template <class Derived, class ThreadModel, class... Entries>
class ComObjectBase : public detail::InterfaceEntry<Entries>::Base... {
    static_assert(sizeof...(Entries) > 0, "a COM class needs at least one interface");

public:
    ComObjectBase(const ComObjectBase&) = delete;
    ComObjectBase& operator=(const ComObjectBase&) = delete;

    // IUnknown of every listed interface: delegates when aggregated.
    HRESULT QueryInterface(REFIID riid, void** ppv) final {
        return m_outer ? m_outer->QueryInterface(riid, ppv) : internalQueryInterface(riid, ppv);
    }
    ULONG AddRef() final { return m_outer ? m_outer->AddRef() : internalAddRef(); }
    ULONG Release() final { return m_outer ? m_outer->Release() : internalRelease(); }

    // Creates an object (aggregated when outer is not null) and queries riid
    // into *ppv. Extra arguments go to the constructor. This is the
    // CreateInstance that zeb::ClassFactory<Derived> calls.
    template <class... Args>
    static HRESULT createInstance(IUnknown* outer, REFIID riid, void** ppv,
                                  Args&&... args) noexcept {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (outer && (!Derived::aggregatable || riid != IID_IUnknown)) return CLASS_E_NOAGGREGATION;
        Derived* object = nullptr;
        HRESULT hr = construct(outer, object, std::forward<Args>(args)...);
        if (FAILED(hr)) return hr;
        hr = object->internalQueryInterface(riid, ppv);
        object->internalRelease();
        return hr;
    }

    // Creates a plain (not aggregated) object and returns it with one
    // reference, for code that needs the concrete class:
    //   ComPtr<CWidget> w;  hr = CWidget::createObject(&w, args...);
    template <class... Args> static HRESULT createObject(Derived** out, Args&&... args) noexcept {
        if (!out) return E_POINTER;
        *out = nullptr;
        return construct(nullptr, *out, std::forward<Args>(args)...);
    }

    // Defaults, hidden by members of the same name in Derived.
    static constexpr bool aggregatable = true;
    HRESULT FinalConstruct() { return S_OK; }
    void FinalRelease() {}
    HRESULT queryOtherInterface(REFIID, void** ppv) {
        *ppv = nullptr;
        return E_NOINTERFACE;
    }

    // The outer object when aggregated, else this object's IUnknown. No
    // reference is added. Valid from FinalConstruct on.
    IUnknown* controllingUnknown() noexcept { return m_outer ? m_outer : primaryUnknown(); }
    bool isAggregated() const noexcept { return m_outer != nullptr; }

    // For code that reaches the object through a pointer it holds no
    // reference for (a table the object leaves in its FinalRelease, read
    // under the table's lock): takes a reference unless the count already
    // reached zero, i.e. the object is being destroyed and must be left
    // alone. Give it back with releaseOwnReference(). The reference is on
    // this object's own count: aggregated, it keeps this object alive, not
    // the outer one (whose count cannot be tried).
    //   lock table; T* p = find(...); bool ok = p && p->tryAddRefOwn(); unlock;
    //   if (ok) { p->work(); p->releaseOwnReference(); }
    bool tryAddRefOwn() noexcept { return ThreadModel::tryIncrement(m_refs, kDestroying); }
    ULONG releaseOwnReference() noexcept { return internalRelease(); }

protected:
    ComObjectBase() noexcept : m_inner(this) { thisModule().objectCreated(); }
    ~ComObjectBase() { thisModule().objectDestroyed(); }

private:
    using Primary =
        typename detail::InterfaceEntry<typename detail::FirstOf<Entries...>::Type>::Base;

    // While the object is being destroyed the count sits here, so that
    // references taken and dropped by FinalRelease never reach zero again.
    static constexpr ULONG kDestroying = std::numeric_limits<ULONG>::max() / 2;

    // The non-delegating IUnknown handed to an aggregating outer object.
    struct InnerUnknown final : IUnknown {
        explicit InnerUnknown(ComObjectBase* owner) noexcept : owner(owner) {}
        HRESULT QueryInterface(REFIID riid, void** ppv) override {
            return owner->internalQueryInterface(riid, ppv);
        }
        ULONG AddRef() override { return owner->internalAddRef(); }
        ULONG Release() override { return owner->internalRelease(); }
        ComObjectBase* owner;
    };

    IUnknown* primaryUnknown() noexcept { return static_cast<Primary*>(this); }

    template <class... Args>
    static HRESULT construct(IUnknown* outer, Derived*& out, Args&&... args) noexcept {
        static_assert(std::is_final_v<Derived>,
                      "a COM class must be final: it is deleted as the type it names");
        static_assert(std::is_base_of_v<ComObjectBase, Derived>);
        out = nullptr;
        Derived* object = nullptr;
        try {
            object = new Derived(std::forward<Args>(args)...);
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        } catch (...) {
            return E_FAIL;
        }
        object->m_outer = outer;
        object->internalAddRef(); // guard reference while FinalConstruct runs
        HRESULT hr = E_FAIL;
        try {
            hr = object->FinalConstruct();
        } catch (...) {
            hr = E_FAIL;
        }
        if (FAILED(hr)) {
            object->internalRelease();
            return hr;
        }
        out = object;
        return S_OK;
    }

    HRESULT internalQueryInterface(REFIID riid, void** ppv) noexcept {
        if (!ppv) return E_POINTER;
        *ppv = nullptr;
        if (riid == IID_IUnknown) {
            // Aggregated, only the outer object asks this side for IUnknown,
            // and it must get the non-delegating one.
            *ppv = m_outer ? static_cast<IUnknown*>(&m_inner) : primaryUnknown();
            internalAddRef();
            return S_OK;
        }
        void* found = nullptr;
        ((found = found ? found : detail::InterfaceEntry<Entries>::find(this, riid)), ...);
        if (found) {
            *ppv = found;
            AddRef(); // the pointer handed out delegates, so its reference does too
            return S_OK;
        }
        HRESULT hr = E_NOINTERFACE;
        try {
            hr = static_cast<Derived*>(this)->queryOtherInterface(riid, ppv);
        } catch (...) {
            hr = E_FAIL;
        }
        if (FAILED(hr)) *ppv = nullptr;
        return hr;
    }

    ULONG internalAddRef() noexcept { return ThreadModel::increment(m_refs); }

    ULONG internalRelease() noexcept {
        const ULONG left = ThreadModel::decrement(m_refs);
        if (left == 0) destroy();
        return left;
    }

    void destroy() noexcept {
        ThreadModel::set(m_refs, kDestroying);
        Derived* self = static_cast<Derived*>(this);
        try {
            self->FinalRelease();
        } catch (...) {
        }
        delete self;
    }

    IUnknown* m_outer = nullptr;
    InnerUnknown m_inner;
    typename ThreadModel::Count m_refs{0};
};

// The two roots: atomic reference count, or plain count for one thread.
template <class Derived, class... Entries>
using ComObject = ComObjectBase<Derived, MultiThreadModel, Entries...>;
template <class Derived, class... Entries>
using SingleThreadComObject = ComObjectBase<Derived, SingleThreadModel, Entries...>;

} // namespace zeb
