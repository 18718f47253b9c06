// The constructor/destructor trace module "k4bt09ax".
//
// tuTraceCTORDTOR writes its text ("CTOR CZEBInstallation (0x...)") as one
// line through the trace sink ("k4wtrcax.dll", opened on the first call, with
// the environment as it is then, and closed when this module is unloaded) at level 7, component 1,
// module 9. Nothing is written when level 7 is not released, the sink is missing or the text is
// null. Safe from any thread; never throws.
#pragma once

extern "C" {
__attribute__((visibility("default"))) void tuTraceCTORDTOR(const char* text);
}

using PFN_tuTraceCTORDTOR = void (*)(const char*);
