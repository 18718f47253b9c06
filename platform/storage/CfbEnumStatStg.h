// IEnumSTATSTG over a snapshot of a storage's children, taken when
// EnumElements was called (later changes to the storage are not seen).
#pragma once

#include "platform/com/ComObject.h"
#include "platform/storage/Storage.h"

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace zeb {

class CfbEnumStatStg final : public ComObject<CfbEnumStatStg, IEnumSTATSTG> {
public:
    static constexpr bool aggregatable = false;

    // One child as the enumerator reports it (pwcsName unused: see name).
    struct Item {
        std::u16string name;
        STATSTG stat;
    };
    using Items = std::shared_ptr<const std::vector<Item>>;

    CfbEnumStatStg(Items items, size_t position) noexcept;

    HRESULT Next(ULONG celt, STATSTG* rgelt, ULONG* pceltFetched) override;
    HRESULT Skip(ULONG celt) override;
    HRESULT Reset() override;
    HRESULT Clone(IEnumSTATSTG** ppenum) override;

private:
    std::mutex m_mutex;
    Items m_items;
    size_t m_position;
};

} // namespace zeb
