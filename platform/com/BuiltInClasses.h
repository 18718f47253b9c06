// Classes built into the runtime: found by CoGetClassObject/CoCreateInstance
// after the class objects registered in the process and before the registry
// store, and by CLSIDFromProgID before the registry store.
//
// A platform part adds its class once, before first use (typically from a
// static initialiser in its own source file):
//
//   static const bool registered = zeb::BuiltInClasses::add(
//       CLSID_Widget, u"Widget.Widget.1", &zeb::classObjectOf<CWidget>);
//
// The runtime's own built-ins (the global interface tables) are always
// present. Adding a CLSID that is already present replaces its entry.
// Thread safety: all functions may be called from any thread.
#pragma once

#include "platform/com/Unknown.h"

#include <string>
#include <string_view>

namespace zeb {

class BuiltInClasses {
public:
    using GetClassObject = HRESULT (*)(REFIID riid, void** ppv);

    // progId may be empty. Returns true (for use in static initialisers).
    static bool add(REFCLSID clsid, std::u16string_view progId, GetClassObject getClassObject);

    // The entry of clsid, or null when it is not built in.
    static GetClassObject find(REFCLSID clsid);

    // The CLSID of a built-in ProgID (compared without regard to ASCII case).
    static bool findProgId(std::u16string_view progId, CLSID& clsid);

    // The ProgID of a built-in class ("" when it has none or is not built in).
    static std::u16string progIdOf(REFCLSID clsid);
};

} // namespace zeb
