#include "is/CIsXPathMap.h"

#include "base/fs/FsSecCl.h"
#include "co/CCoTraceRecord.h"

FsSecCl& operator<<(FsSecCl& section, const CIsXPathMap& map) {
    section << DWORD(map.size());
    section.separator();
    for (const auto& [id, xpath] : map.entries()) {
        section << id;
        section.separator();
        section << xpath;
    }
    return section;
}

FsSecCl& operator>>(FsSecCl& section, CIsXPathMap& map) {
    CCoTraceRecord rec("is_inst", "operator >> (XPathMap)");
    map.clear();
    DWORD count = 0;
    section >> count;
    // Bounded by the stated count, so a damaged count cannot keep the loop
    // going past the data; each string is checked against the bytes left.
    for (DWORD i = 0; i < count && section.state() == FsSecCl::kGood; ++i) {
        String id, xpath;
        section >> id >> xpath;
        if (section.state() != FsSecCl::kGood) break;
        if (!map.insert(id, xpath))
            ZEB_TRACE(rec, 4, "error inserting type entry for \"%s\"", id.c_str());
    }
    if (map.size() != count || section.state() != FsSecCl::kGood)
        ZEB_TRACE(rec, 4, "error reading installation data");
    return section;
}
