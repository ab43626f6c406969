// The three delays a run measures, named once: the key that the run record
// and --limit use, the label every table, plot, tooltip and file header
// shows, and the unit. Whatever lists the paths iterates DelayPaths.
#pragma once

enum class DelayPath { Src2Rf, Src2Hd, Src2Snk };

struct DelayPathInfo
{
    DelayPath path;
    const char *key;      // "src2Rf": run record members; --limit takes it in any letter case
    const char *label;    // "Source->RF"
    const char *unit;     // "ms"
    const char *valueKey; // a measurement's value in the run record
    const char *colour;   // "#rrggbb", the same in every plot of a path
};

// In the order the results file lists them: RF, HDMI, sink.
extern const DelayPathInfo DelayPaths[3];

const DelayPathInfo &PathInfo(DelayPath path);

// One of three members, chosen by path: what a record keeps per path is
// picked in one place, e.g. ForPath(path, stats.src2Rf, stats.src2Hd,
// stats.src2Snk).
template <typename T> T &ForPath(DelayPath path, T &rf, T &hd, T &snk)
{
    return path == DelayPath::Src2Rf ? rf : path == DelayPath::Src2Hd ? hd : snk;
}
