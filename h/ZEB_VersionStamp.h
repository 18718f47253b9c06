// Version stamps: an identity (GUID) with a 16-bit major and minor version.
//
//   CVersionStamp stamp;            // all 20 data bytes 0xFF: not set
//   stamp.renew();                  // new GUID, version 0.0
//   stamp.stepMinor();              // 0.1
//   stamp.stepMajor();              // 1.0
//   RTTypeID rt = stamp.value();    // the 20 data bytes
//
// ZEB_VersionStamp is the record: a table of three operations (renew, step
// major, step minor, in that slot order) followed by the 20 data bytes laid
// out as RTTypeID. CVersionStamp implements the operations.
#pragma once

#include "h/TypeIdent.h"

#include <cstdint>

struct ZEB_VersionStamp {
    // Sets major and minor to 0 and takes a new GUID.
    virtual void renew() = 0;
    // Sets minor to 0 and adds 1 to major; a major that wraps to 0 renews.
    virtual void stepMajor() = 0;
    // Adds 1 to minor; a minor that wraps to 0 steps the major version.
    virtual void stepMinor() = 0;

    GUID guidVersion;
    uint16_t nMajor;
    uint16_t nMinor;

protected:
    ZEB_VersionStamp() : ZEB_VersionStamp(RTTYPEID_INVALID) {}
    explicit ZEB_VersionStamp(const RTTypeID& v)
        : guidVersion(v.guidVersion), nMajor(v.nMajor), nMinor(v.nMinor) {}
    ZEB_VersionStamp(const ZEB_VersionStamp&) = default;
    ZEB_VersionStamp& operator=(const ZEB_VersionStamp&) = default;
    ~ZEB_VersionStamp() = default;
};

class CVersionStamp final : public ZEB_VersionStamp {
public:
    CVersionStamp() = default;                                         // not set: all bytes 0xFF
    explicit CVersionStamp(const RTTypeID& v) : ZEB_VersionStamp(v) {} // from a 20-byte value

    void renew() override {
        GUID g{};
        // CoCreateGuid only fails when the system has no randomness; the
        // stamp then keeps a null identity rather than a stale one.
        if (FAILED(CoCreateGuid(&g))) g = GUID{};
        guidVersion = g;
        nMajor = 0;
        nMinor = 0;
    }
    void stepMajor() override {
        nMinor = 0;
        nMajor = uint16_t(nMajor + 1);
        if (nMajor == 0) renew();
    }
    void stepMinor() override {
        nMinor = uint16_t(nMinor + 1);
        if (nMinor == 0) stepMajor();
    }

    RTTypeID value() const { return RTTypeID{guidVersion, nMajor, nMinor}; }
    bool isSet() const { return !isInvalid(value()); }
};
