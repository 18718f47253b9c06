// CZEBIntInstallation: the core installation object and its type, snap-in,
// extension-type, attribute, tool and cache operations.
//
//   ComPtr<IMC_Installation> inst;
//   CZEBIntInstallation::createInstance(nullptr, uuidof<IMC_Installation>(),
//                                       reinterpret_cast<void**>(&inst));
//   DWORD ret = 0;
//   inst->addTypeByClass(CLSID_SampleDriveType, TC_Device, &ret);   // S_OK, ret 0
//
// Every operation checks its pointers (E_POINTER, "error: NULL pointer
// argument"), calls one container operation, translates the container's
// code into pRet (ResultCodes.h) and copies results into caller-owned memory
// (E_OUTOFMEMORY when that fails). An exception inside an operation is
// caught, traced ("caught any unhandled exception") and answered with E_FAIL.
// No operation saves but saveChanges: the containers mark themselves changed.
//
// The object owns the installation: the type and tool containers, the
// classification document (one class element per installed type, described
// and arranged by the refresh; is/xml), the XPath map and the installation
// file "k4bi00tx.dat" of the configuration directory, which it loads when it
// is made and writes on saveChanges, by its save timer (two minutes after a
// saveChanges when "SaveAsync" is 1, or after setTypeStorage) and, when a
// timer save is pending, at its release. exportTypeData packs a type, the
// types it depends on and their descriptions into a storage in memory that
// importTypeData reads into another installation.
//
// Threads. The object belongs to the thread that made it, and its callers
// are meant to call it there. But the runtime hands out the object itself,
// not a proxy that would carry a call over to that thread: a pointer taken
// from the interface table or a holder on another thread is this object.
// Two things do reach it from other threads in the ordinary course:
//   - references taken and dropped there (interface table, holders, a type
//     object asking the project handler for the installation): the
//     reference count is atomic;
//   - the cache call of a weak type object whose last holder lives on a
//     worker thread and that dies there (removeTypeObjectFromCache): every
//     operation runs under the call lock, so such a call waits until the
//     operation under way is over, the one-call-at-a-time that the owner's
//     message queue gives on Windows.
// The lock is re-entrant (type objects and message handlers that call back
// on the owner's thread pass), uncontended on the owner's thread, and left
// while the type container waits, pumping messages, for a type object to
// finish an installation step, so a worker that calls back before it
// reports is served meanwhile. REQUIRES of a type object: it does not wait,
// while it is being released, for a thread that calls the installation.
// typeCont() hands out the container without the lock, and the set...
// members take none: they are for the owner's thread while no other thread
// can call in (setting up, inspecting).
#pragma once

#include "base/fs/FsInstFile.h"
#include "co/CCoCriticalSection.h"
#include "co/CCoCtorDtorTracer.h"
#include "co/CCoGuardedCall.h"
#include "co/CCoSynchronize.h"
#include "h/IMC_Installation.h"
#include "is/CIsToolCont.h"
#include "is/CIsTypeCont.h"
#include "is/CIsXPathMap.h"
#include "is/xml/CIsXmlClassification.h"
#include "is/xml/CIsXmlTypeDescriber.h"
#include "is/xml/CIsXmlTypeExchange.h"
#include "is/xml/TypeDescriptionSource.h"
#include "platform/com/ComObject.h"
#include "platform/win/MessageQueue.h"

#include <memory>
#include <string>

class CZEBIntInstallation final
    : public zeb::ComObject<CZEBIntInstallation, IMC_Installation, IMC_InstallationDetails,
                            IMC_InternalInstallation, IMC_InstallNavigate, IMC_PEInstallation,
                            IMC_InstallClassification, IMC_InternalInstallClassification>,
      private TypeDescriptionSource,
      private TypeExchangeSource {
public:
    // The file name of the installation in the configuration directory.
    static constexpr const char* kFileName = "k4bi00tx.dat";

    // Builds the object and loads the installation file of the configuration
    // directory (created, and saved at once, when missing). Construction
    // never fails: an installation that cannot be loaded leaves the object
    // usable with what was read (traced "error calling load").
    CZEBIntInstallation();
    // As above with the configuration directory given (empty: the
    // configured one).
    explicit CZEBIntInstallation(std::string configDir);
    // How the installation file is opened. ReadOnly reads everything but
    // neither takes the writer lock nor creates a missing file, and nothing
    // it changes can be saved: for tools that only look.
    enum class OpenMode { Write, ReadOnly };
    CZEBIntInstallation(std::string configDir, OpenMode mode);
    ~CZEBIntInstallation();
    // Aggregates the inner object (CLSID_CBasisESOemObj) and, when a project
    // handler aggregates this object (its controlling IUnknown answers
    // IMC_InternalProjectHdl), takes the handler's holder: the type
    // container reaches the handler through it, and the inner object gets it
    // through its IMC_InitPrjHdl. A failing call fails the creation with its
    // HRESULT. Without a project handler there is no holder (S_OK). An inner
    // object whose class is not registered at all is left out (traced): the
    // registry is also used on machines without that component (zebinst,
    // programs that keep an installation on their own); a registered class
    // that cannot be made fails the creation.
    HRESULT FinalConstruct();
    // Writes what a pending timer save would have written (traced "Failed to
    // call save!" when that fails), stops the save timer and releases the
    // inner object.
    void FinalRelease();
    // The two interfaces of the inner object (IID_BasisESOemDelegateA/B) are
    // answered by it; E_NOINTERFACE for them without an inner object.
    HRESULT queryOtherInterface(REFIID riid, void** ppv);
    // The inner object's IUnknown (null when there is none); no reference.
    IUnknown* innerObject() const { return m_spIInnerUnk.get(); }

    // Opens (or creates) the installation file at `path` and reads every
    // section. False, traced, when that fails. A section that does not read
    // cleanly leaves the file open with what every section gave: nothing is
    // written until something changes, and the first save that writes keeps
    // the damaged file beside the installation ("k4bi00tx.dat.damaged-<time>.dat",
    // traced; the save fails when it cannot be kept). A file that cannot be
    // opened at all leaves the object without a file. While another writer (process or
    // object) holds the file, it is opened read-only: everything is read,
    // and a save with changes fails ("installation file is locked by another
    // writer (pid N, name)") instead of replacing the other writer's work.
    bool load(const std::string& path);
    // Describes new types when the document asks for it, writes every
    // section and puts the file in place. True when nothing needed writing or
    // everything was written. Not forced, with the setting "SaveAsync" = 1,
    // the writing is deferred instead: the save timer is (re)started and the
    // save returns true; the timer writes kSaveDelayMs later, on the owner's
    // thread.
    bool save(bool forced);
    bool isFileOpen() const { return m_file.storage() != nullptr; }
    // True when the file is open for reading only: opened so (OpenMode), or
    // because another writer held it (lockHolder() names it).
    bool isReadOnly() const { return isFileOpen() && !m_file.isWritable(); }
    bool isOpenedReadOnly() const { return m_openReadOnly; }
    // True when a section of the file did not read cleanly at the load: the
    // object holds what could be read.
    bool hasDamagedSections() const { return m_sectionsDamaged; }
    // The writer that held the file when it was opened (pid 0 when none did).
    const FsWriterLock::Holder& lockHolder() const { return m_file.writerLockHolder(); }
    const std::string& filePath() const { return m_filePath; }
    // True while any part of the installation differs from the file.
    bool isChanged() const;

    // The project-handler holder handed to the type container.
    void setPrjHdlHolder(IMC_PrjHdlHolder* pIHolder) { m_typeCont.setPrjHdlHolder(pIHolder); }

    // Where PD-files and stylesheets are read from; empty (the default)
    // takes the configured directory ("ConfigDir").
    void setConfigurationDirectory(std::string dir) { m_configDir = std::move(dir); }

    // The deferred save. The timer is a thread timer of the owner's thread
    // (the thread that made the object): it fires through that thread's
    // message loop, where the object's work belongs. Started on another
    // thread, the start is handed to the owner as a posted request (a
    // message-only window per owner thread) and the save counts as pending
    // at once; the owner's loop starts the timer. When the owner's thread
    // is gone the start fails and a save writes at once instead.
    // The module keeps the running timers in one map (timer id -> object)
    // under one lock, taken after the call lock, never before it.
    static constexpr UINT kSaveDelayMs = 120000;
    // Starts (restarts) the timer: 0, or 0xFFFF when it cannot be started.
    DWORD setSaveTimer();
    // Stops the timer; a pending save stays pending (isSaveTimerRunning).
    void killSaveTimer();
    // The timer procedure: saves the object whose timer `id` is, forced.
    static void autoSave(HWND hwnd, UINT message, UINT_PTR id, DWORD time);
    // True from a successful setSaveTimer to the next save that writes.
    bool isSaveTimerRunning() const;
    // The running timer's id, 0 when none runs on the owner's thread.
    UINT_PTR saveTimerId() const;
    DWORD ownerThreadId() const { return m_ownerThread; }

    CIsTypeCont& typeCont() { return m_typeCont; }
    CIsXmlClassification& classification() { return m_classification; }
    CIsToolCont& toolCont() { return m_toolCont; }
    CIsXPathMap& xpathMap() { return m_xpathMap; }

    // Describes the new types and arranges the document (0, or the code of
    // the failure). The save runs it when the document asks for it.
    DWORD refreshXMLTypeTree();
    // Called after each type the refresh describes (done, total new types),
    // on the thread that runs the refresh; a host shows progress with it.
    // Null removes it.
    void setRefreshProgress(CIsXmlTypeDescriber::Progress progress) {
        m_describer.setProgress(std::move(progress));
    }
    // The descriptions of the types (in the order given) into a section as
    // one narrow string: 0, 65535, or the transformation's code.
    DWORD exportXmlTreeInfo(const std::vector<GUID>& typeIds, FsSecCl& section);
    // The descriptions a section holds, each replacing the class element of
    // the same name, then arranged: 0, 65535, or the transformation's code.
    DWORD importXmlTreeInfo(FsSecCl& section);
    // The on-demand refresh: runs refreshXMLTypeTree when the document has
    // its Installation element (even with nothing new: the arrangement runs
    // all the same). False when the refresh failed.
    bool refreshXMLTypeOnDemand();

    // IMC_Installation
    HRESULT addTypeByClass(GUID clsidType, LONG typeClass, DWORD* pRet) override;
    HRESULT addTypeByClass(GUID clsidType, LONG typeClass, GUID typeId, LPCSTR name,
                           DWORD* pRet) override;
    HRESULT removeType(GUID typeId, DWORD* pRet) override;
    HRESULT removeTypeByClass(GUID typeId, LONG typeClass, DWORD* pRet) override;
    HRESULT saveChanges(DWORD* pRet) override;
    HRESULT addTool(GUID toolTypeId, LPCOLESTR toolName, GUID toolClsid, DWORD value,
                    DWORD* pRet) override;
    HRESULT removeToolByToolTypeID(GUID toolTypeId, DWORD* pRet) override;

    // IMC_InstallationDetails
    HRESULT addSnapInByTypeID(GUID typeId, GUID snapIn, DWORD* pRet) override;
    HRESULT removeSnapInByTypeID(GUID typeId, GUID snapIn, DWORD* pRet) override;
    HRESULT setDefaultSnapInByTypeID(GUID typeId, GUID snapIn, DWORD* pRet) override;
    HRESULT getDefaultSnapInByTypeID(GUID typeId, GUID* pSnapIn, DWORD* pRet) override;
    HRESULT getSnapInListByTypeID(GUID typeId, DWORD* pCount, GUID** ppSnapIns,
                                  DWORD* pRet) override;
    HRESULT addExtensionTypeByTypeID(GUID typeId, LPCSTR extName, GUID extClsid,
                                     DWORD* pRet) override;
    HRESULT removeExtensionTypeByTypeID(GUID typeId, GUID extTypeId, DWORD* pRet) override;
    HRESULT getExtensionTypeIDListByTypeID(GUID typeId, DWORD* pCount, GUID** ppExtIds,
                                           DWORD* pRet) override;
    HRESULT getExtensionTypeByTypeID(GUID typeId, GUID extTypeId, IUnknown** ppExt,
                                     DWORD* pRet) override;
    HRESULT getExtensionTypeNameByTypeID(GUID typeId, GUID extTypeId, char** ppName,
                                         DWORD* pRet) override;
    HRESULT isExtensionType(GUID typeId, GUID extTypeId, BOOL* pIsExt) override;
    HRESULT setAttributeByTypeID(GUID clsidType, BSTR bstrAttrKey, BSTR bstrAttrValue,
                                 DWORD* pRet) override;
    HRESULT removeAttributeByTypeID(GUID typeId, BSTR bstrAttrKey, DWORD* pRet) override;
    HRESULT getAttributeByTypeID(GUID typeId, BSTR bstrAttrKey, BSTR* pbstrValue,
                                 DWORD* pRet) override;

    // IMC_InternalInstallation
    HRESULT getTypeStorage(GUID typeId, DWORD access, IStorage** ppStorage, DWORD* pRet) override;
    HRESULT setTypeStorage(GUID typeId, DWORD access, IStorage* pSource, DWORD* pRet) override;
    HRESULT createNativeTypeObject(GUID typeId, DWORD access, IUnknown** ppObject,
                                   DWORD* pRet) override;
    HRESULT removeTypeObjectFromCache(GUID typeId, DWORD access, IUnknown* pObject,
                                      DWORD* pRet) override;
    HRESULT clearTypeCache(DWORD access, DWORD* pRet) override;
    HRESULT getClsidByToolTypeID(GUID toolTypeId, DWORD access, CLSID* pClsid,
                                 DWORD* pRet) override;
    HRESULT exportTypeData(GUID typeId, IStorage** ppStorage, DWORD* pRet) override;
    HRESULT importTypeData(IStorage* pSource, DWORD* pRet) override;
    HRESULT getAttrListByTypeID(GUID typeId, DWORD* pCount, ZEB_AttrPair** ppPairs,
                                DWORD* pRet) override;
    HRESULT refreshXMLTypeOnDemand(DWORD* pRet) override;

    // IMC_InstallNavigate
    HRESULT getTypeIDList(DWORD* pCount, GUID** ppTypeIds) override;
    HRESULT getTypeIDListByClass(LONG typeClass, DWORD* pCount, GUID** ppTypeIds) override;
    HRESULT getTypeIDListByVIDName(LPCSTR name, DWORD* pCount, GUID** ppTypeIds) override;
    HRESULT getTypeNameMap(DWORD* pCount, ZEB_TypeNameEntry** ppMap) override;
    HRESULT getTypeNameMapByClass(LONG typeClass, DWORD* pCount,
                                  ZEB_TypeNameEntry** ppMap) override;
    HRESULT getTypeByID(GUID typeId, IUnknown** ppType, DWORD* pRet) override;
    HRESULT getTypeByIDAndClass(GUID typeId, LONG typeClass, IUnknown** ppType,
                                DWORD* pRet) override;
    HRESULT getTypeNameByID(GUID typeId, char** ppName, DWORD* pRet) override;
    HRESULT getTypeVIDNameByID(GUID typeId, char** ppName, DWORD* pRet) override;
    HRESULT getTypeNameByIDAndClass(GUID typeId, LONG typeClass, char** ppName,
                                    DWORD* pRet) override;
    HRESULT getTypeVIDNameByIDAndClass(GUID typeId, LONG typeClass, char** ppName,
                                       DWORD* pRet) override;
    HRESULT getTypeIdByName(LPCSTR name, GUID* pTypeId, DWORD* pRet) override;
    HRESULT getTypeIdByVIDName(LPCSTR name, GUID* pTypeId, DWORD* pRet) override;
    HRESULT getTypeIdByNameAndClass(LPCSTR name, LONG typeClass, GUID* pTypeId,
                                    DWORD* pRet) override;
    HRESULT getTypeIdByVIDNameAndClass(LPCSTR name, LONG typeClass, GUID* pTypeId,
                                       DWORD* pRet) override;
    HRESULT isType(GUID typeId, BOOL* pIsType) override;
    HRESULT getTypeClass(GUID typeId, LONG* pTypeClass, DWORD* pRet) override;
    HRESULT getTypeIDByRTID(RTTypeID rtTypeId, GUID* pTypeId, DWORD* pRet) override;
    HRESULT getTypeIDByRTIDandClass(RTTypeID rtTypeId, LONG typeClass, GUID* pTypeId,
                                    DWORD* pRet) override;
    HRESULT getRTIDByTypeID(GUID typeId, RTTypeID* pRTTypeId, DWORD* pRet) override;
    HRESULT getRTIDByTypeIDandClass(GUID typeId, LONG typeClass, RTTypeID* pRTTypeId,
                                    DWORD* pRet) override;
    HRESULT getToolByToolTypeID(GUID toolTypeId, IUnknown** ppTool, DWORD* pRet) override;
    HRESULT isTool(GUID toolTypeId, BOOL* pIsTool) override;

    // IMC_PEInstallation
    HRESULT getAttributes(GUID typeId, DWORD* pCount, ZEB_AttrPair** ppPairs, DWORD* pRet) override;
    HRESULT getAttributes(GUID typeId, ZEB_AttrBlock* pBlock, DWORD* pRet) override;

    // IMC_InstallClassification (CZEBIntInstallationQueries.cpp)
    HRESULT getTypeDescr(BSTR queryId, VARIANT* pResult, DWORD* pRet) override;
    HRESULT getTypeDescrAttr(GUID typeId, BSTR queryId, VARIANT* pResult, DWORD* pRet) override;
    HRESULT getTypeDescrParam(LONG count, VARIANT* pParams, BSTR queryId, VARIANT* pResult,
                              DWORD* pRet) override;

    // Evaluates `xpath` on the classification document and writes the text
    // of the selected attributes to *result: 0, 9, 44 or 65535 (the result
    // untouched but for 0). A text that is no XPath, or that passes the
    // query limits, raises zeb::ComError (E_FAIL) after a trace.
    DWORD getXQueryResult(const std::string& xpath, VARIANT* result);

    // IMC_InternalInstallClassification. The merging of descriptions and
    // package files is not served yet: E_NOTIMPL.
    HRESULT addXMLTypeDescription(IUnknown* pNode, DWORD* pRet) override;
    HRESULT addPackageFile(LPCSTR packageName, LPCSTR deviceTypeName, BSTR fileName,
                           DWORD* pRet) override;
    HRESULT removePackageFile(LPCSTR packageName, LPCSTR deviceTypeName, DWORD* pRet) override;
    HRESULT registerXPathQuery(LPCSTR queryId, LPCSTR xpath, DWORD* pRet) override;
    HRESULT unregisterXPathQuery(LPCSTR queryId, DWORD* pRet) override;
    HRESULT getInstallationDocument(IUnknown** ppDocument, DWORD* pRet) override;

private:
    // TypeDescriptionSource: what describing the types asks of the installation.
    DWORD createTypeObject(const GUID& typeId, IUnknown** object) override;
    GUID findTypeByRuntimeId(const RTTypeID& rtId) override;
    HRESULT typeAttribute(const GUID& typeId, BSTR key, BSTR* value, DWORD* pRet) override;
    std::string configurationDirectory() override;
    // TypeExchangeSource: what moving descriptions asks of the installation.
    GUID typeIdByName(const std::string& name) override;
    HRESULT setTypeAttribute(const GUID& typeId, BSTR key, BSTR value, DWORD* pRet) override;

    template <class F> HRESULT serialised(CCoTraceRecord& rec, F&& body);
    // The owner's side of a timer start requested on another thread.
    static LRESULT ownerRequest(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    void startRequestedTimer();
    // Records the owner thread and enters the request table (construction).
    void attachOwner();
    // Stops the timer and leaves the request table: nothing of the module
    // refers to the object afterwards.
    void leaveTimerTables();
    void construct(std::string configDir, OpenMode mode);
    // Why a save cannot write the open file (another writer holds it, or it
    // was opened read-only).
    std::string readOnlyReason() const;
    // The sections of the installation file, in the order they are stored.
    bool readSections();
    // Links the file as it was read to a new name beside it; false (traced)
    // when that fails.
    bool keepDamagedFile();
    bool writeSections();
    // An "xmltypes" text that does not parse: kept beside the file, and the
    // document rebuilt from the installed types so the next refresh
    // describes them again.
    void rebuildDocument(const std::u16string& unreadable);
    DWORD copyTypeStorage(const GUID& typeId, IStorage** out, CCoTraceRecord& rec);
    DWORD replaceTypeStorage(const GUID& typeId, IStorage* source, CCoTraceRecord& rec);
    HRESULT addXMLNode(const GUID& typeId, const String& name, TypeClass typeClass, DWORD* pRet);
    void removeXMLNode(const GUID& typeId, CCoTraceRecord& rec);
    // The access check of a type's internal operations, then the type itself:
    // false (with pRet set and traced) when the operation must stop.
    bool typeAccessible(const GUID& typeId, DWORD access, DWORD* pRet, CCoTraceRecord& rec);
    // As typeAccessible, and the installation file open (pRet stays 0 when not).
    bool typeStorageReachable(const GUID& typeId, DWORD access, DWORD* pRet, CCoTraceRecord& rec);
    HRESULT typeNameStep(const GUID& typeId, const String& name, char** ppName, DWORD* pRet,
                         CCoTraceRecord& rec);
    void typeIdStep(const GUID& found, LPCSTR name, GUID* pTypeId, DWORD* pRet,
                    CCoTraceRecord& rec);
    HRESULT attributeList(const GUID& typeId, DWORD* pCount, ZEB_AttrPair** ppPairs, DWORD* pRet,
                          CCoTraceRecord& rec);
    HRESULT nameMap(const std::map<GUID, String>& names, DWORD* pCount, ZEB_TypeNameEntry** ppMap,
                    CCoTraceRecord& rec);

    CCoCriticalSection m_csCalls;   // the call lock; declared first, it goes last
    ComPtr<IUnknown> m_spIInnerUnk; // the aggregated inner object
    CIsTypeCont m_typeCont;
    // Made after the type container is built and before it is initialised,
    // as the installation has always done: its traces come first.
    CIsXmlClassification m_classification;
    CIsXmlTypeDescriber m_describer{m_classification, *this};
    CIsXmlTypeExchange m_xmlExchange{m_classification, m_describer, *this};
    std::string m_configDir;
    CIsToolCont m_toolCont;
    FsInstFile m_file;
    std::string m_filePath;
    bool m_openReadOnly = false;
    bool m_damagedOnLoad = false;   // a section did not read cleanly; not yet kept
    bool m_sectionsDamaged = false; // a section did not read cleanly at the load
    CIsXPathMap m_xpathMap;
    bool m_typeStorageChanged = false;
    bool m_queryMapChanged = false;
    // The deferred save; under the call lock.
    bool m_timerRunning = false;
    UINT_PTR m_saveTimerId = 0;
    DWORD m_ownerThread = 0;
    HWND m_ownerWindow = nullptr; // the owner thread's request window
    uint64_t m_ownerCookie = 0;   // this object in the module's request table
};

// One interface operation: the catch-all around a body that runs under the
// call lock, so that a call arriving on another thread waits until the
// current one is over (see above).
template <class F> HRESULT CZEBIntInstallation::serialised(CCoTraceRecord& rec, F&& body) {
    return guardedMethod(rec, [&]() -> HRESULT {
        CCoSynchronize lock(&m_csCalls.m_sec);
        return body();
    });
}
