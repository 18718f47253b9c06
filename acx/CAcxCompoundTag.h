// The compound tag a CAcxTagTree makes.
#pragma once

#include "acx/CAcxCompoundTagBase.h"

class CAcxCompoundTag final : public CAcxCompoundTagBase {
public:
    using CAcxCompoundTagBase::CAcxCompoundTagBase;
};
