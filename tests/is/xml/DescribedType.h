// A test double of a type object that offers every description interface,
// with scripted answers: any call can be made to fail (HRESULT, result word)
// or to throw, and a hook runs at the start of every call so a test can
// re-enter the installation from inside the refresh.
//
//   DescribedClass cls("Described.1.0", RTTypeID{family, 1, 0});
//   inst->addTypeByClass(cls.clsid, TC_Device, &ret);
//   cls.script->failing = "getFeatures";     // answers E_FAIL from now on
//   cls.script->subObjects = {{id, u"Brake", 16}};
#pragma once

#include "h/IMC_TypeDescription.h"
#include "h/IMC_TypeObject.h"
#include "platform/com/Activation.h"
#include "platform/com/ComObject.h"
#include "platform/com/TaskAllocator.h"
#include "tests/is/ScriptedType.h"

#include <cstring>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace zeb::test {

struct DescriptionScript {
    std::string name;
    GUID typeId{};
    RTTypeID rt = RTTYPEID_INVALID;

    // The call that fails ("" none): with failHr and failRet, or by throwing.
    std::string failing;
    HRESULT failHr = E_FAIL;
    DWORD failRet = 0;
    bool throwing = false;
    // Run at the start of every description call, with the call's name.
    std::function<void(const std::string&)> onCall;

    struct SubObject {
        GUID typeId;
        std::u16string name;
        uint32_t addr;
    };
    std::vector<SubObject> subObjects;
    DWORD features = 0;
};

class CDescribedType final
    : public zeb::ComObject<CDescribedType, IMC_TypeIdent, IMC_RTTypeIdent, IMC_SubObjects,
                            IMC_ConnectorProps, IMC_TPTNavigate, IMC_SDNavigate, IMC_TPackageType,
                            IMC_ObjectClassification> {
public:
    explicit CDescribedType(std::shared_ptr<DescriptionScript> script)
        : m_script(std::move(script)) {}

    HRESULT getName(char** out) override {
        *out = static_cast<char*>(CoTaskMemAlloc(m_script->name.size() + 1));
        std::memcpy(*out, m_script->name.c_str(), m_script->name.size() + 1);
        return S_OK;
    }
    HRESULT reserved4() override { return E_NOTIMPL; }
    HRESULT getTypeId(GUID* out) override {
        *out = m_script->typeId;
        return S_OK;
    }
    HRESULT getRTTypeID(RTTypeID* out) override {
        *out = m_script->rt;
        return enter("getRTTypeID", nullptr);
    }
    HRESULT getSubObjectEntryList(DWORD* pCount, ZEB_SubObjectEntry** pp) override {
        *pCount = DWORD(m_script->subObjects.size());
        *pp = alloc<ZEB_SubObjectEntry>(*pCount);
        for (DWORD i = 0; i < *pCount; ++i) {
            const auto& s = m_script->subObjects[i];
            (*pp)[i] = {s.typeId, wide(s.name), s.addr};
        }
        return enter("getSubObjectEntryList", nullptr);
    }
    HRESULT getConnectorPropsList(DWORD* pCount, ZEB_ConnectorProps** pp, DWORD* pRet) override {
        *pCount = 1;
        *pp = alloc<ZEB_ConnectorProps>(1);
        (*pp)[0] = {7,     wide(u"Bus"), makeGuid("0C0C0C0C-0000-0000-0000-000000000001"),
                    TRUE,  FALSE,        FALSE,
                    TRUE,  FALSE,        2,
                    {1, 4}};
        *pRet = 0;
        return enter("getConnectorPropsList", pRet);
    }
    HRESULT getTObjectTypeRTIDList(DWORD* pCount, RTTypeID** pp, DWORD* pRet) override {
        *pCount = 1;
        *pp = alloc<RTTypeID>(1);
        (*pp)[0] = RTTypeID{makeGuid("0D0D0D0D-0000-0000-0000-000000000001"), 1, 0};
        *pRet = 0;
        return enter("getTObjectTypeRTIDList", pRet);
    }
    HRESULT getSDHeaderDetails(ZEB_SDHeaderDetails* p, DWORD* pRet) override {
        *p = {};
        p->dwKind = 1;
        p->lpszName = wide(u"OA");
        *pRet = 0;
        return enter("getSDHeaderDetails", pRet);
    }
    HRESULT getApplicationTypeDetailsList(DWORD, const ZEB_OAApplSelection* sel, DWORD* pCount,
                                          ZEB_OAApplDetails** pp, DWORD* pRet) override {
        *pCount = 1;
        *pp = alloc<ZEB_OAApplDetails>(1);
        (*pp)[0] = {wide(sel->dwType ? u"App.ofClass" : u"App"),
                    RTTypeID{makeGuid("0E0E0E0E-0000-0000-0000-000000000001"), 1, 0}, 2, 3};
        *pRet = 0;
        return enter("getApplicationTypeDetailsList", pRet);
    }
    HRESULT getApplicationSupportedDOClasses(DWORD, RTTypeID, DWORD* pCount, DWORD** pp,
                                             DWORD* pRet) override {
        *pCount = 1;
        *pp = alloc<DWORD>(1);
        (*pp)[0] = 5;
        *pRet = 0;
        return enter("getApplicationSupportedDOClasses", pRet);
    }
    HRESULT getFeatures(DWORD* pFlags, DWORD* pRet) override {
        *pFlags = m_script->features;
        *pRet = 0;
        return enter("getFeatures", pRet);
    }
    HRESULT getTypeESTypeGroup(BSTR* p) override {
        *p = SysAllocString(u"Group");
        return enter("getTypeESTypeGroup", nullptr);
    }
    HRESULT getTypeESTypeSubGroup(BSTR* p) override {
        *p = SysAllocString(u"Sub");
        return enter("getTypeESTypeSubGroup", nullptr);
    }
    HRESULT getTypeCategory(uint16_t* p) override {
        *p = 1;
        return enter("getTypeCategory", nullptr);
    }
    HRESULT getTypeClass(uint16_t* p) override {
        *p = 2;
        return enter("getTypeClass", nullptr);
    }
    HRESULT getRuntimeID(RTTypeID* p) override {
        *p = m_script->rt;
        return enter("getRuntimeID", nullptr);
    }
    HRESULT getRuntimeIDBase(RTTypeID* p) override {
        *p = RTTYPEID_INVALID;
        return enter("getRuntimeIDBase", nullptr);
    }

private:
    // Every out-value is filled before this runs, so a failing call hands
    // over memory as a real object may: the caller must free it all the same.
    HRESULT enter(const std::string& call, DWORD* pRet) {
        if (m_script->onCall) m_script->onCall(call);
        if (m_script->failing != call) return S_OK;
        if (m_script->throwing) throw std::runtime_error("scripted failure in " + call);
        if (pRet) *pRet = m_script->failRet;
        return m_script->failHr;
    }
    template <class T> static T* alloc(DWORD n) {
        return n ? static_cast<T*>(CoTaskMemAlloc(n * sizeof(T))) : nullptr;
    }
    static LPOLESTR wide(std::u16string_view text) {
        auto* copy = static_cast<LPOLESTR>(CoTaskMemAlloc((text.size() + 1) * sizeof(OLECHAR)));
        std::memcpy(copy, text.data(), text.size() * sizeof(OLECHAR));
        copy[text.size()] = u'\0';
        return copy;
    }

    std::shared_ptr<DescriptionScript> m_script;
};

class CDescribedFactory final : public zeb::ComObject<CDescribedFactory, IClassFactory> {
public:
    explicit CDescribedFactory(std::shared_ptr<DescriptionScript> script)
        : m_script(std::move(script)) {}
    HRESULT CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override {
        return CDescribedType::createInstance(outer, riid, ppv, m_script);
    }
    HRESULT LockServer(BOOL) override { return S_OK; }

private:
    std::shared_ptr<DescriptionScript> m_script;
};

// The class object of a described type, registered in the process while it lives.
struct DescribedClass {
    explicit DescribedClass(std::string name, RTTypeID rt, GUID typeId = freshGuid())
        : clsid(freshGuid()), script(std::make_shared<DescriptionScript>()) {
        script->name = std::move(name);
        script->typeId = typeId;
        script->rt = rt;
        ComPtr<CDescribedFactory> factory;
        CDescribedFactory::createObject(&factory, script);
        CoRegisterClassObject(clsid, static_cast<IClassFactory*>(factory.get()),
                              CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie);
    }
    ~DescribedClass() { CoRevokeClassObject(cookie); }
    DescribedClass(const DescribedClass&) = delete;
    DescribedClass& operator=(const DescribedClass&) = delete;

    CLSID clsid;
    std::shared_ptr<DescriptionScript> script;
    DWORD cookie = 0;
};

} // namespace zeb::test
