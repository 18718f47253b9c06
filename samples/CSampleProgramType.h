// CSampleProgramType: a program type ("SampleProgram.1.0"), an internal type.
#pragma once

#include "samples/CSampleTypeObject.h"
#include "samples/SampleIds.h"

class CSampleProgramType final : public CSampleTypeObject<CSampleProgramType> {
public:
    CSampleProgramType() : CSampleTypeObject(kSampleProgramName, TYPEID_SampleProgram) {}
};
