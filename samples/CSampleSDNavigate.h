// CSampleSDNavigate: IMC_SDNavigate answered from a constant record, for the
// sample types that carry SD content (header kind 0) or OA applications
// (header kind 1).
//
//   inline constexpr SampleSDContent kCamContent{header, nullptr, 0, kApps, 2};
//   class CSampleCamType final
//       : public CSampleTypeObject<CSampleCamType, ..., CSampleSDNavigate<kCamContent>> {...};
//
// getApplicationTypeDetailsList selects the applications whose runtime
// identity matches selection.rtID (all when it is all zero) and, when
// selection.dwType is not 0, that support the object class dwType;
// dwSubType is not looked at. getApplicationSupportedDOClasses answers the
// classes of the application with that runtime identity (none for an
// unknown one). Every answer is S_OK with result word 0; a nonzero reserved
// word gives E_INVALIDARG, a null pointer E_POINTER. The header's name and
// ranges and every list and symbol are new task allocations.
#pragma once

#include "h/IMC_TypeDescription.h"
#include "samples/SampleTaskMem.h"

#include <cstddef>

// One OA application and the object classes it supports.
struct SampleOAApplication {
    ZEB_OAApplDetails details;
    DWORD classes[2];
    size_t classCount;
};

struct SampleSDContent {
    ZEB_SDHeaderDetails header; // dwRangeCount and pRanges come from the two below
    const ZEB_OACompatibleRange* ranges;
    size_t rangeCount;
    const SampleOAApplication* applications;
    size_t applicationCount;
};

template <const SampleSDContent& V> class CSampleSDNavigate : public IMC_SDNavigate {
public:
    HRESULT getSDHeaderDetails(ZEB_SDHeaderDetails* pDetails, DWORD* pRet) override {
        if (!pDetails || !pRet) return E_POINTER;
        *pRet = 0;
        *pDetails = V.header;
        pDetails->lpszName = nullptr;
        DWORD count = 0;
        HRESULT hr = zeb::samples::taskListCopy(V.ranges, V.rangeCount, &count, &pDetails->pRanges);
        pDetails->dwRangeCount = count;
        if (FAILED(hr)) return hr;
        pDetails->lpszName = zeb::samples::taskWideDup(V.header.lpszName);
        if (V.header.lpszName && !pDetails->lpszName) {
            CoTaskMemFree(pDetails->pRanges);
            pDetails->pRanges = nullptr;
            pDetails->dwRangeCount = 0;
            return E_OUTOFMEMORY;
        }
        return S_OK;
    }

    HRESULT getApplicationTypeDetailsList(DWORD reserved, const ZEB_OAApplSelection* pSelection,
                                          DWORD* pCount, ZEB_OAApplDetails** ppList,
                                          DWORD* pRet) override {
        if (!pSelection || !pCount || !ppList || !pRet) return E_POINTER;
        *pCount = 0;
        *ppList = nullptr;
        *pRet = 0;
        if (reserved != 0) return E_INVALIDARG;
        constexpr size_t kMax = V.applicationCount ? V.applicationCount : 1;
        ZEB_OAApplDetails selected[kMax];
        size_t n = 0;
        const RTTypeID none{};
        for (size_t i = 0; i < V.applicationCount; ++i) {
            const SampleOAApplication& app = V.applications[i];
            if (!(pSelection->rtID == none) &&
                !sameRuntimeIdentity(pSelection->rtID, app.details.rtID))
                continue;
            if (pSelection->dwType != 0 && !supports(app, pSelection->dwType)) continue;
            selected[n++] = app.details;
        }
        return zeb::samples::taskListCopy(selected, n, pCount, ppList,
                                          &ZEB_OAApplDetails::lpszOAApplSymbol);
    }

    HRESULT getApplicationSupportedDOClasses(DWORD reserved, RTTypeID applRtId, DWORD* pCount,
                                             DWORD** ppClasses, DWORD* pRet) override {
        if (!pCount || !ppClasses || !pRet) return E_POINTER;
        *pCount = 0;
        *ppClasses = nullptr;
        *pRet = 0;
        if (reserved != 0) return E_INVALIDARG;
        for (size_t i = 0; i < V.applicationCount; ++i) {
            const SampleOAApplication& app = V.applications[i];
            if (sameRuntimeIdentity(applRtId, app.details.rtID))
                return zeb::samples::taskListCopy(app.classes, app.classCount, pCount, ppClasses);
        }
        return S_OK;
    }

private:
    static bool supports(const SampleOAApplication& app, DWORD objectClass) {
        for (size_t i = 0; i < app.classCount; ++i)
            if (app.classes[i] == objectClass) return true;
        return false;
    }
};
