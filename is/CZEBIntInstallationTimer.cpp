// CZEBIntInstallation: the deferred save. A save that may wait arms a
// two-minute thread timer on the object's owner thread; the timer procedure
// finds the object through the module's timer map and saves it, forced.
//
// Lock order: the call lock of an object, then the module's map lock; never
// the other way round. The timer procedure and the owner's request window
// look the object up under the map lock, take a reference that keeps it
// alive (refused once its count reached zero: it is being destroyed, and its
// FinalRelease writes what was pending), leave the map lock and only then
// call into the object. FinalRelease takes the object out of both tables, so
// no table ever holds an object that is gone.
#include "is/CZEBIntInstallation.h"

#include "co/CCoGuardedCall.h"
#include "co/CCoSynchronize.h"

#include <map>
#include <mutex>

namespace {

constexpr const char* kFile = "is_inst";

// Posted to the owner's request window: start the save timer of the object
// whose request cookie is wParam.
constexpr UINT kStartSaveTimer = WM_APP + 1;
constexpr char16_t kRequestWindowClass[] = u"ZEBInstallationRequests";

// Module-wide: the running save timers (timer id -> object; the traces call
// it the filemap and the id the cookie) and the objects that can be asked
// from other threads to start one (request cookie -> object), under one
// re-entrant lock whose blocked waits are traced.
struct SaveTimers {
    SaveTimers() { lock.Init(); }
    ~SaveTimers() { lock.Term(); }
    CCoCriticalSection lock;
    std::map<UINT_PTR, CZEBIntInstallation*> timers;
    std::map<uint64_t, CZEBIntInstallation*> requests;
    uint64_t nextRequestCookie = 1; // never reused: a stale request finds nothing
};

SaveTimers& saveTimers() {
    static SaveTimers tables;
    return tables;
}
// Made when the module is loaded, not by the first object.
[[maybe_unused]] const bool g_saveTimersMade = (saveTimers(), true);

class MapLock {
public:
    MapLock() { saveTimers().lock.Lock(); }
    ~MapLock() { saveTimers().lock.Unlock(); }
    MapLock(const MapLock&) = delete;
    MapLock& operator=(const MapLock&) = delete;
};

// The calling thread's request window, made on first use and destroyed when
// the thread ends. Null when it cannot be made: requests then fail and saves
// write at once.
HWND requestWindow(WNDPROC proc) {
    struct RequestWindow {
        explicit RequestWindow(WNDPROC proc) {
            static std::once_flag registered;
            std::call_once(registered, [proc] {
                WNDCLASSEXW wc{};
                wc.cbSize = sizeof wc;
                wc.lpfnWndProc = proc;
                wc.lpszClassName = kRequestWindowClass;
                RegisterClassExW(&wc);
            });
            hwnd = CreateWindowExW(0, kRequestWindowClass, u"", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                   nullptr, nullptr, nullptr);
        }
        ~RequestWindow() {
            if (hwnd) DestroyWindow(hwnd);
        }
        HWND hwnd = nullptr;
    };
    thread_local RequestWindow window(proc);
    return window.hwnd;
}

} // namespace

void CZEBIntInstallation::attachOwner() {
    CCoTraceRecord rec(kFile, "CZEBIntInstallation::CZEBIntInstallation");
    m_ownerThread = GetCurrentThreadId();
    m_ownerWindow = requestWindow(&ownerRequest);
    if (!m_ownerWindow) ZEB_TRACE(rec, 4, "error creating the owner's request window");
    MapLock lock;
    m_ownerCookie = saveTimers().nextRequestCookie++;
    saveTimers().requests[m_ownerCookie] = this;
}

void CZEBIntInstallation::leaveTimerTables() {
    CCoSynchronize lock(&m_csCalls.m_sec);
    killSaveTimer();
    MapLock mapLock;
    saveTimers().requests.erase(m_ownerCookie);
}

void CZEBIntInstallation::FinalRelease() {
    CCoTraceRecord rec(kFile, "CZEBIntInstallation::FinalRelease");
    guardedDestructor(rec, [&] {
        CCoSynchronize lock(&m_csCalls.m_sec);
        if (m_timerRunning && !save(true)) ZEB_TRACE(rec, 4, "Failed to call save!");
        leaveTimerTables();
    });
    // Outside the call lock: the inner object's last release may call back.
    guardedDestructor(rec, [&] { m_spIInnerUnk.Release(); });
}

bool CZEBIntInstallation::isSaveTimerRunning() const {
    CCoSynchronize lock(const_cast<LPCRITICAL_SECTION>(&m_csCalls.m_sec));
    return m_timerRunning;
}

UINT_PTR CZEBIntInstallation::saveTimerId() const {
    CCoSynchronize lock(const_cast<LPCRITICAL_SECTION>(&m_csCalls.m_sec));
    return m_saveTimerId;
}

DWORD CZEBIntInstallation::setSaveTimer() {
    CCoTraceRecord rec(kFile, "CZEBIntInstallation::setSaveTimer");
    CCoSynchronize lock(&m_csCalls.m_sec);
    killSaveTimer();
    if (GetCurrentThreadId() != m_ownerThread) {
        // A timer armed here would fire only through this thread's loop (it
        // may have none, or end and take the timer along): the owner's loop
        // starts it. The save is pending from now on, so a release before
        // that writes.
        if (!m_ownerWindow ||
            !PostMessageW(m_ownerWindow, kStartSaveTimer, WPARAM(m_ownerCookie), 0)) {
            ZEB_TRACE(rec, 4, "owner thread 0x%X cannot be reached", unsigned(m_ownerThread));
            ZEB_TRACE(rec, 4, "error: SetTimer failed");
            return 0xFFFF;
        }
        m_timerRunning = true;
        return 0;
    }
    m_saveTimerId = SetTimer(nullptr, 0, kSaveDelayMs, &autoSave);
    if (!m_saveTimerId) {
        ZEB_TRACE(rec, 4, "error: SetTimer failed");
        return 0xFFFF;
    }
    {
        MapLock mapLock;
        if (!saveTimers().timers.emplace(m_saveTimerId, this).second) {
            // The timer stays set; the next killSaveTimer stops it.
            ZEB_TRACE(rec, 4, "error insert in filemap");
            return 0xFFFF;
        }
    }
    m_timerRunning = true;
    return 0;
}

void CZEBIntInstallation::killSaveTimer() {
    CCoTraceRecord rec(kFile, "CZEBIntInstallation::killSaveTimer");
    CCoSynchronize lock(&m_csCalls.m_sec);
    if (m_saveTimerId == 0) return;
    // Timer ids are unique in the process, so this works from any thread.
    if (!KillTimer(nullptr, m_saveTimerId)) ZEB_TRACE(rec, 4, "failed to kill timer");
    {
        MapLock mapLock;
        if (saveTimers().timers.erase(m_saveTimerId) == 0)
            ZEB_TRACE(rec, 4, "cookie not found in filemap");
    }
    m_saveTimerId = 0;
}

void CZEBIntInstallation::autoSave(HWND, UINT message, UINT_PTR id, DWORD) {
    CCoTraceRecord rec(kFile, "CZEBIntInstallation::autoSave");
    guardedDestructor(rec, [&] {
        if (message != WM_TIMER) {
            ZEB_TRACE(rec, 4, "received wrong message");
            return;
        }
        if (id == 0) {
            ZEB_TRACE(rec, 4, "no cookie specified");
            return;
        }
        CZEBIntInstallation* inst = nullptr;
        {
            MapLock mapLock;
            auto it = saveTimers().timers.find(id);
            if (it == saveTimers().timers.end()) {
                ZEB_TRACE(rec, 4, "found no installation interface for cookie %i", int(id));
                return;
            }
            inst = it->second;
            if (inst && !inst->tryAddRefOwn()) inst = nullptr; // being destroyed
        }
        if (!inst) {
            ZEB_TRACE(rec, 4, "no installation interface");
            return;
        }
        // Outside the map lock: the save takes the call lock, then the map lock.
        if (!inst->save(true)) ZEB_TRACE(rec, 4, "error save changes");
        inst->releaseOwnReference();
    });
}

LRESULT CZEBIntInstallation::ownerRequest(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != kStartSaveTimer) return DefWindowProcW(hwnd, message, wParam, lParam);
    CCoTraceRecord rec(kFile, "CZEBIntInstallation::setSaveTimer");
    guardedDestructor(rec, [&] {
        CZEBIntInstallation* inst = nullptr;
        {
            MapLock mapLock;
            auto it = saveTimers().requests.find(uint64_t(wParam));
            if (it != saveTimers().requests.end() && it->second->tryAddRefOwn()) inst = it->second;
        }
        // Gone: its release wrote what was pending.
        if (!inst) return;
        inst->startRequestedTimer();
        inst->releaseOwnReference();
    });
    return 0;
}

void CZEBIntInstallation::startRequestedTimer() {
    CCoSynchronize lock(&m_csCalls.m_sec);
    // A save that wrote since the request cleared the pending save.
    if (m_timerRunning) setSaveTimer();
}
