#include "measurement/delaypaths.h"

// The HDMI delay is the video analyzer's own reading: the record keeps it
// under a name without a unit, as the analyzer reports it.
const DelayPathInfo DelayPaths[3] = {
    {DelayPath::Src2Rf, "src2Rf", "Source->RF", "ms", "src2RfMs"},
    {DelayPath::Src2Hd, "src2Hd", "Source->HDMI", "ms", "src2Hd"},
    {DelayPath::Src2Snk, "src2Snk", "Source->Sink", "ms", "src2SnkMs"},
};

const DelayPathInfo &PathInfo(DelayPath path)
{
    return DelayPaths[int(path)];
}
