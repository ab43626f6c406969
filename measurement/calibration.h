// A calibration: what the bench adds to each delay path by itself (probe
// skew, sensor response, cable delay), measured once on a reference set-up
// and taken out of every later delay, with how well it is known; and the
// oscilloscope's time-base accuracy. Kept as a small JSON file
// (docs/calibration.md); everything in it is checked before it is used.
#pragma once

#include "measurement/delaypaths.h"

#include <QByteArray>
#include <QJsonObject>
#include <QString>

constexpr int CalibrationSchemaVersion = 1;
// What a stated time base falls back to: a common oscilloscope's accuracy.
constexpr double DefaultTimeBasePpm = 25.0;

// Bounds on what a file may say: a bench does not add a second, and no
// time base is off by a percent.
constexpr qint64 MaxCalibrationBytes = 64 * 1024;
constexpr double MaxCalibrationOffsetMs = 1000.0;
constexpr double MaxCalibrationUncertaintyMs = 1000.0;
constexpr double MaxTimeBasePpm = 10000.0;
constexpr int MaxCalibrationName = 200;   // characters
constexpr int MaxCalibrationText = 2000;  // characters of each free text

struct PathCalibration
{
    bool set = false;           // the file gives this path
    double offsetMs = 0.0;      // taken off every delay of the path
    double uncertaintyMs = 0.0; // standard uncertainty of the offset (k = 1)
    QString note;               // how it was obtained, free text
};

struct Calibration
{
    bool loaded = false; // false: no calibration; offsets 0, the default time base
    QString name;
    QString date;         // ISO 8601, as written: "2026-03-01" or with a time
    QString measuredWith; // free text: the reference set-up, sensor, cables
    double timeBasePpm = DefaultTimeBasePpm;
    PathCalibration paths[3]; // in the order of DelayPaths

    const PathCalibration &of(DelayPath path) const { return paths[int(path)]; }
    PathCalibration &of(DelayPath path) { return paths[int(path)]; }

    // "Bench A photodiode, 2026-03-01" or "No calibration".
    QString title() const;
};

// Reads a calibration. False with a message naming the member and what is
// wrong with it for anything that is not a valid calibration: not JSON,
// unknown members, wrong types, numbers out of bounds, texts too long.
bool ParseCalibration(const QByteArray &json, Calibration *calibration, QString *error);
// The same for a file; the message starts with the file's name.
bool ReadCalibrationFile(const QString &path, Calibration *calibration, QString *error);

// The file's members, as the run record keeps them too, and the file's text
// (indented JSON). A calibration that is not loaded has neither.
QJsonObject CalibrationObject(const Calibration &calibration);
QByteArray CalibrationJson(const Calibration &calibration);
// Written atomically; empty when written, else the reason.
QString WriteCalibrationFile(const QString &path, const Calibration &calibration);
