// A tag without children: a number or a string.
#pragma once

#include "acx/CAcxTagBase.h"

class CAcxLeafTagBase : public CAcxTagBase {
public:
    using CAcxTagBase::CAcxTagBase;
};
