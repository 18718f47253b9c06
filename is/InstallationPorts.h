// The collaborator of the core installation object that lives in another
// part of the system: the exchange of type data. The installation calls it
// through this small interface; it is optional, and an installation without
// it answers as documented at each operation.
//
//   auto exchange = std::make_shared<MyExchange>();
//   installation->setExchange(exchange);   // exportTypeData now reaches it
//
// Codes are those of ResultCodes.h (0 = success). Called on the
// installation's thread only.
#pragma once

#include "h/TypeIdent.h"

#include <string>

struct IStorage;
struct IUnknown;

namespace zeb {

// Export and import of the data of single types between installations.
struct TypeDataExchangePort {
    virtual DWORD exportTypeData(const GUID& typeId, IStorage** out) = 0; // a pRet value
    virtual DWORD importTypeData(IStorage* source) = 0;                   // a pRet value

protected:
    ~TypeDataExchangePort() = default;
};

} // namespace zeb
