// What one run took: every kept measurement with its delays, edge times and
// (for the trace files) its own traces, every acquisition taken again and
// why, and how the run ended. Plain data, filled by the measurement run and
// read by the results files, the statistics, the window and the command line.
#pragma once

#include "measurement/calibration.h"
#include "measurement/delaypaths.h"
#include "measurement/fineedges.h"
#include "shared/benchsettings.h"
#include "shared/visatypes.h"

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QVector>

// One acquisition's three traces as the block reads and the RF scaling left
// them, shared with the vectors they were read into (no copy), and written
// to the trace files as they are.
struct KeptTraces
{
    int count = 0; // the measurement's sample count, the count of its trace files
    QVector<double> src;
    QVector<double> rf;
    QVector<double> snk;
};

// Why a delay has no value.
enum class DelayGap {
    None,         // measured
    EdgeNotFound, // a trace was read but an edge in it was not found
    TraceNotRead, // the RF or sink trace could not be read
    NotMeasured,  // the path is switched off (HDMI delay without the option)
    NoReading,    // the video analyzer had no valid reading
};

// The video analyzer's answers for one measurement, as far as they came.
struct HdmiReading
{
    bool statusRead = false;
    ViInt32 status = 0;
    bool countRead = false;
    ViInt32 count = 0;
    bool valueRead = false;
    double value = 0.0;
};

struct Measurement
{
    int index = 0;            // 1 .. requested
    QDateTime acquired;       // when its acquisition was accepted
    int retakenBefore = 0;    // acquisitions taken again just before it
    double src2Rf = 0.0;      // ms, NaN without a value
    double src2Hd = 0.0;      // the video analyzer's reading; 0 when not measured, NaN without a reading
    double src2Snk = 0.0;     // ms, NaN without a value
    DelayGap rfGap = DelayGap::None;
    DelayGap hdGap = DelayGap::None;
    DelayGap snkGap = DelayGap::None;
    double tsrc = 0.0, trf = 0.0, tsnk = 0.0; // edge times, s; NaN where not found
    HdmiReading hdmi;
    // Left empty by the run, which hands each measurement's traces to its
    // "kept" callback instead; WriteRunFiles writes those found here.
    KeptTraces traces;
    // Which of its three trace files are on disk, one TraceFileBit
    // (measurement/resultsfile.h) per file; their names follow from the
    // run's filesAt and the index.
    quint8 traceFiles = 0;
    // The same edges finer than a sample, with what each can be off by
    // (fineedges.h); NaN where not found or not read.
    FineEdges fine;

    double delay(DelayPath path) const; // src2Rf, src2Hd or src2Snk
    DelayGap gap(DelayPath path) const;
    // From the fine edges, ms: NaN where delay() has no value, and for the
    // HDMI path, which the video analyzer measures by itself.
    double fineDelay(DelayPath path) const;
};

enum class RetakeReason {
    NoNewTrace,    // a command of the acquisition or the channel-1 read failed
    OutsideWindow, // the source trace did not start between -0.05 V and 0.3 V
};

struct Retake
{
    int forMeasurement = 0; // the measurement (1-based) it was taken for
    RetakeReason reason = RetakeReason::NoNewTrace;
    QString detail; // the failing exchange, or the first sample's value
    bool timedOut = false; // that exchange got no answer in time (no trigger, most likely)
};

enum class RunEnd {
    Completed,
    Canceled,       // the operator's Cancel
    Interrupted,    // SIGINT / SIGTERM on the command line
    Rejected,       // too many acquisitions in a row were taken again
    ConnectionLost, // an instrument closed the connection
    SpoolFailed,    // "Trace.tmp" could not be created or written
};

struct RunRecord
{
    // Set by whoever starts the run: what it was set up with.
    BenchSettings settings; // the values the set-ups and the run used
    QString saIdentity;     // the analyzer's "*IDN?" reply, if it gave one
    QString label;          // the command line's --label

    int requested = 0;
    QDateTime started, ended;
    QVector<Measurement> measurements;
    QVector<Retake> retakes;
    RunEnd end = RunEnd::Completed;
    QString endReason; // in words, for every end but Completed and Canceled

    // Taken off the fine delays to give the corrected ones; not loaded: none.
    Calibration calibration;

    // Per kept measurement, the trace files written for it: source, RF and
    // sink, full paths, empty where one was not written. Empty when the run
    // wrote none. Set by whoever writes them (WriteRunFiles' report).
    QVector<QStringList> traceFiles;

    // Time axis of the trace files: samples, time of the first, interval (s).
    int recordLength = 0;
    double firstSampleTime = 0.0;
    double sampleInterval = 0.0;

    // Where the run's files are: the data directory and the stamp that
    // start every name (TraceFileName(filesAt, QString(), k, kind)); empty
    // when the run wrote none.
    QString filesAt;

    // A run finished from its journal after the program ended during it.
    struct Recovery
    {
        QDateTime at;            // when it was finished
        int unreadableLines = 0; // journal lines left out: torn, cut or not ours
        int traceFilesLost = 0;  // trace files named in the journal but missing or incomplete
    };
    bool recovered = false;
    Recovery recovery;

    // The delays as the results file lists them, in measurement order.
    QVector<double> DelayArr(DelayPath path) const;
    QVector<double> Src2RfArr() const;
    QVector<double> Src2HdArr() const;
    QVector<double> Src2SnkArr() const;
};

QString RetakeReasonText(RetakeReason reason);
QString DelayGapText(DelayGap gap);

// One line for the status bar and the console: "10 of 10 measurements",
// "Canceled after 49 of 1000 measurements", "Stopped after 3 of 10
// measurements: <reason>"; plus how many acquisitions were taken again and why.
QString RunSummary(const RunRecord &run);
