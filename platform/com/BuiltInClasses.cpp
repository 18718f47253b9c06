#include "platform/com/BuiltInClasses.h"

#include <algorithm>
#include <mutex>
#include <vector>

namespace zeb {

namespace {

struct Entry {
    CLSID clsid;
    std::u16string progId;
    BuiltInClasses::GetClassObject getClassObject;
};

struct Table {
    std::mutex mutex;
    std::vector<Entry> entries;
};

// Never destroyed: activation may still run while static objects of other
// modules are being torn down at exit.
Table& table() {
    static Table* t = new Table;
    return *t;
}

char16_t asciiLower(char16_t c) {
    return c >= u'A' && c <= u'Z' ? char16_t(c - u'A' + u'a') : c;
}

bool equalsIgnoringAsciiCase(std::u16string_view a, std::u16string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(),
                      [](char16_t x, char16_t y) { return asciiLower(x) == asciiLower(y); });
}

} // namespace

bool BuiltInClasses::add(REFCLSID clsid, std::u16string_view progId,
                         GetClassObject getClassObject) {
    Table& t = table();
    std::lock_guard lock(t.mutex);
    auto it = std::find_if(t.entries.begin(), t.entries.end(),
                           [&](const Entry& e) { return e.clsid == clsid; });
    if (it != t.entries.end())
        *it = Entry{clsid, std::u16string(progId), getClassObject};
    else
        t.entries.push_back(Entry{clsid, std::u16string(progId), getClassObject});
    return true;
}

BuiltInClasses::GetClassObject BuiltInClasses::find(REFCLSID clsid) {
    Table& t = table();
    std::lock_guard lock(t.mutex);
    for (const Entry& e : t.entries)
        if (e.clsid == clsid) return e.getClassObject;
    return nullptr;
}

bool BuiltInClasses::findProgId(std::u16string_view progId, CLSID& clsid) {
    if (progId.empty()) return false;
    Table& t = table();
    std::lock_guard lock(t.mutex);
    for (const Entry& e : t.entries)
        if (equalsIgnoringAsciiCase(e.progId, progId)) {
            clsid = e.clsid;
            return true;
        }
    return false;
}

std::u16string BuiltInClasses::progIdOf(REFCLSID clsid) {
    Table& t = table();
    std::lock_guard lock(t.mutex);
    for (const Entry& e : t.entries)
        if (e.clsid == clsid) return e.progId;
    return {};
}

} // namespace zeb
