// A run record read back whole, for a report of the run: everything the
// record says, in plain values, from a record of either schema version.
// The file may come from anywhere (hand-edited, torn, someone else's): its
// size, its counts and every text are bounded; a member that is missing or
// of the wrong type reads as "not there" (NaN, empty, null), never as 0.
#pragma once

#include "measurement/calibration.h"
#include "measurement/runstats.h"
#include "measurement/uncertainty.h"
#include "shared/benchsettings.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>

constexpr qint64 MaxRecordedRunBytes = 64 * 1024 * 1024;
// Characters kept of any one text (an identity, a reason, a label).
constexpr int MaxRecordedText = 2000;

struct RecordedRetake
{
    int forMeasurement = 0;
    QString reason; // "outsideWindow", "noNewTrace", or whatever the record says
    QString detail;
};

struct RecordedMeasurement
{
    int index = 0;
    QString time;
    int retakenBefore = 0;
    // In the order of DelayPaths, ms; NaN where null.
    double delay[3];
    QString missing[3]; // why a delay is null, as the record words it
    double corrected[3];   // version 2
    double uncertainty[3]; // version 2: expanded, k = 2
    double tsrc, trf, tsnk; // edge times, s
    QStringList traceFiles; // source, RF, sink names as recorded; empty when the record names none

    RecordedMeasurement();
};

struct RecordedRun
{
    int schemaVersion = 0;
    QString toolName, toolVersion;
    QString label, stamp, started, ended;
    int requested = 0;
    int kept = 0; // as the record states it; measurements holds the elements
    QString endState, endReason;
    QVector<RecordedRetake> retakes;

    bool hasSettings = false;
    BenchSettings settings;
    QString oscType;    // "Orvix", "Benlo"
    QString saIdentity; // the analyzer's *IDN? reply

    int recordLength = 0;
    double firstSampleTime, sampleInterval; // s; NaN where not recorded
    QString resultsFile, csvFile;

    QVector<RecordedMeasurement> measurements;
    PathStats stats[3];          // in the order of DelayPaths
    MeanUncertainty uncertainty[3]; // version 2; all NaN in a version-1 record
    bool hasUncertainty = false;

    // The calibration the corrected delays were taken with. Version 1
    // records have no member for it; a member that is no valid calibration
    // leaves calibration unloaded and says why.
    bool calibrationRecorded = false;
    Calibration calibration;
    QString calibrationProblem;

    RecordedRun();
    const PathStats &statsOf(DelayPath path) const { return stats[int(path)]; }
    const MeanUncertainty &uncertaintyOf(DelayPath path) const { return uncertainty[int(path)]; }
    // The path was measured: the record's statistics say so (the HDMI path
    // only with the option on).
    bool measured(DelayPath path) const { return stats[int(path)].measured; }
    // A path's delays in measurement order, NaN where null.
    QVector<double> delays(DelayPath path) const;
};

// False, with the reason, for anything that is not a run record this
// version reads: not a JSON object, an unknown schema version, more
// measurements than a run can have, more acquisitions taken again than a
// run can take. Anything else reads as far as it goes.
bool ParseRecordedRun(const QByteArray &json, RecordedRun *run, QString *error);
// The same for a file; at most MaxRecordedRunBytes are read.
bool ReadRecordedRun(const QString &path, RecordedRun *run, QString *error);
