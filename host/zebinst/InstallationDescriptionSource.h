// What describing the types needs, answered from an installation through its
// public members, so that a host can run a describer of its own over the
// installation's classification document (zebinst does, to show progress).
// It answers exactly as the installation answers its own describer.
//
//   InstallationDescriptionSource source(*inst, configDir);
//   CIsXmlTypeDescriber describer(inst->classification(), source);
//   describer.setProgress(...);
//   DWORD r = describer.refreshXMLTypeTree();
#pragma once

#include "is/CZEBIntInstallation.h"
#include "is/xml/TypeDescriptionSource.h"

#include <string>

class InstallationDescriptionSource final : public TypeDescriptionSource {
public:
    // Both outlive the source; `configDir` is where PD-files and stylesheets are.
    InstallationDescriptionSource(CZEBIntInstallation& inst, std::string configDir)
        : m_inst(inst), m_configDir(std::move(configDir)) {}

    DWORD createTypeObject(const GUID& typeId, IUnknown** object) override {
        return m_inst.typeCont().createNativeTypeObject(typeId, object);
    }
    GUID findTypeByRuntimeId(const RTTypeID& rtId) override {
        return m_inst.typeCont().getTypeIDByRTID(rtId);
    }
    HRESULT typeAttribute(const GUID& typeId, BSTR key, BSTR* value, DWORD* pRet) override {
        return m_inst.getAttributeByTypeID(typeId, key, value, pRet);
    }
    std::string configurationDirectory() override { return m_configDir; }

private:
    CZEBIntInstallation& m_inst;
    std::string m_configDir;
};
