#include "measurement/delaypaths.h"

// The HDMI delay is the video analyzer's own reading: the record keeps it
// under a name without a unit, as the analyzer reports it.
const DelayPathInfo DelayPaths[3] = {
// Colours: the graph's yellow, dark enough to read on white; green; the
// graph's red.
    {DelayPath::Src2Rf, "src2Rf", "Source->RF", "ms", "src2RfMs", "#c88c00"},
    {DelayPath::Src2Hd, "src2Hd", "Source->HDMI", "ms", "src2Hd", "#008c3c"},
    {DelayPath::Src2Snk, "src2Snk", "Source->Sink", "ms", "src2SnkMs", "#ff0000"},
};

const DelayPathInfo &PathInfo(DelayPath path)
{
    return DelayPaths[int(path)];
}
