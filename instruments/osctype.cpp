#include "instruments/osctype.h"

namespace {
const OscType *const Types[OscTypeCount] = {&OrvixType, &BenloType};
}

const OscType &OscTypeOf(int osTypIdx)
{
    return osTypIdx >= 0 && osTypIdx < OscTypeCount ? *Types[osTypIdx] : BenloType;
}

int OscTypeIndex(int stored)
{
    return stored >= 0 && stored < OscTypeCount ? stored : -1;
}

double SampleTime(int index, int pts, const OscType &type)
{
    return (double(index) * type.recordSpan) / double(pts - 1) + type.firstSampleTime;
}
