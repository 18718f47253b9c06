// The interface and classes that the test plugin library serves.
#pragma once

#include "platform/com/Unknown.h"

struct ITestWidget : IUnknown {
    static constexpr IID iid = makeGuid("3E0B6D52-4A8F-4C41-9B7E-5D2C6A1F0E93");
    virtual HRESULT answer(DWORD* value) = 0;
};

constexpr CLSID CLSID_TestWidget = makeGuid("9C4F2A61-0D3B-4E7A-8F15-B6E2C9D4A703");
constexpr DWORD kTestWidgetAnswer = 42;
