// The RTMM scope: marks the begin and the end of an operation for the memory
// tracer, as two traces at level 5.
//
//   {
//       CCoRtmmScope rtmm("3", "CZEBIntInstallation::save");  //
//       "RTMM+3+BEGIN+CZEBIntInstallation::save"
//       ...
//   }                                                          //
//   "RTMM+3+END+CZEBIntInstallation::save"
//
// The scope is active when the setting "rtmm\active" (below ES-Basis, read
// once when the module starts) is 1. Active, it copies both texts and traces
// from "RTMMTracer::trace" (source RTMMTracer, line 57); inactive, it copies
// and traces nothing. Categories in use: "3" around the save of the
// installation, "0" around loading the XML document and evaluating XPath
// queries. Never throws; null texts count as empty.
#pragma once

class CCoRtmmScope {
public:
    // Active as the module's switch says.
    CCoRtmmScope(const char* category, const char* operation) noexcept;
    // Active as `active` says.
    CCoRtmmScope(bool active, const char* category, const char* operation) noexcept;
    ~CCoRtmmScope();
    CCoRtmmScope(const CCoRtmmScope&) = delete;
    CCoRtmmScope& operator=(const CCoRtmmScope&) = delete;

    // The switch as read when the module started.
    static bool isActive() noexcept;
    // Reads the switch now: true only when "rtmm\active" reads 1.
    static bool readSwitch() noexcept;

private:
    void mark(const char* phase) noexcept;

    char* m_pszCategory = nullptr; // copies, null when inactive
    char* m_pszOperation = nullptr;
};
