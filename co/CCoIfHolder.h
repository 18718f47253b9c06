// Holds an interface pointer so that any thread can use it: the pointer is
// parked in the global interface table and each getInterface() fetches it
// anew for the calling thread.
//
//   CCoIfHolder holder;
//   if (!holder.setInterface(pDisplay)) ...;        // registers (traced on failure)
//   ...on any thread:
//   ComPtr<IUnknown> spIf = holder.getInterface();   // null if empty or failed
//   ...
//   holder.clear();                                  // revokes when no fetch uses it
//
// The registration is owned by a CCookieData record shared through a
// shared_ptr. setInterface swaps a new record in under the holder's lock;
// getInterface copies the pointer under the same lock and works on its copy
// outside it. A registration is revoked when the last copy of its record
// goes, so a getInterface running during a setInterface either uses the old
// registration (still alive) or the new one, never a revoked cookie.
//
// Thread safety: setInterface, getInterface and clear may be called
// concurrently from any thread. Creating the table and the table calls run
// outside the lock. Failures are traced at level 4 (source "co_ifcookie");
// no exception leaves these operations.
#pragma once

#include "platform/com/ComPtr.h"
#include "platform/win/Threading.h"

#include <memory>

class CCoIfHolder {
public:
    // One registration in the global interface table.
    class CCookieData {
    public:
        CCookieData() = default;
        // Revokes the registration, if any (failures are traced).
        ~CCookieData();
        CCookieData(const CCookieData&) = delete;
        CCookieData& operator=(const CCookieData&) = delete;

        DWORD getCookie() const { return m_dwCookie; }
        bool isRegistered() const { return m_bRegistered; }
        // Takes over a live registration: this record now revokes `cookie`.
        void adopt(DWORD cookie) {
            m_dwCookie = cookie;
            m_bRegistered = true;
        }

    private:
        DWORD m_dwCookie = 0;
        bool m_bRegistered = false;
    };

    CCoIfHolder();
    // Deletes the lock, then drops the held record (which may revoke it).
    ~CCoIfHolder();
    CCoIfHolder(const CCoIfHolder&) = delete;
    CCoIfHolder& operator=(const CCoIfHolder&) = delete;

    // Registers `pIf` (as IUnknown) and holds it instead of the previous
    // interface; a null pointer empties the holder. False when the table
    // cannot be created or the registration fails: the holder then keeps
    // what it held.
    bool setInterface(IUnknown* pIf);

    // The held interface for the calling thread, with a reference for the
    // caller; null when the holder is empty or the retrieval failed. An
    // empty holder creates no table object.
    ComPtr<IUnknown> getInterface();

    // Empties the holder (setInterface(nullptr)).
    void clear() { setInterface(nullptr); }

private:
    std::shared_ptr<CCookieData> m_spData; // empty when nothing is held
    CRITICAL_SECTION m_sec;                // guards m_spData itself
};
