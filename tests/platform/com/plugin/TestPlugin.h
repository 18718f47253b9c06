// The interface and classes that the test plugin library serves.
#pragma once

#include "platform/com/Unknown.h"
#include "platform/win/WinTypes.h"

struct ITestWidget : IUnknown {
    static constexpr IID iid = makeGuid("3E0B6D52-4A8F-4C41-9B7E-5D2C6A1F0E93");
    virtual HRESULT answer(DWORD* value) = 0;
};

constexpr CLSID CLSID_TestWidget = makeGuid("9C4F2A61-0D3B-4E7A-8F15-B6E2C9D4A703");

// A widget whose destruction goes on for a while after the library's object
// count has dropped, as a destructor that flushes or joins a worker does: its
// library answers S_OK to DllCanUnloadNow while its code still runs.
struct ISlowTestWidget : IUnknown {
    static constexpr IID iid = makeGuid("6B1D8E27-93C4-4F0A-A2E5-1C7F3B9D5E48");
    // When the object is destroyed: set `countDropped` (an event) once the
    // library's count is down, then keep running for `lingerMs`.
    virtual HRESULT lingerWhenDestroyed(HANDLE countDropped, DWORD lingerMs) = 0;
};

constexpr CLSID CLSID_SlowTestWidget = makeGuid("2F8A4C90-5E17-4B3D-9C62-A0D4E8F1B735");
constexpr DWORD kTestWidgetAnswer = 42;
