// A compound tag (kind 0) with its children.
#pragma once

#include "acx/CAcxCompoundSimple.h"
#include "acx/CAcxTagBase.h"

class CAcxCompoundTagBase : public CAcxTagBase, public CAcxCompoundSimple {
public:
    CAcxCompoundTagBase(uint32_t tagId, CAcxCompoundTagBase* parent)
        : CAcxTagBase(tagId, 0, parent) {}
};
