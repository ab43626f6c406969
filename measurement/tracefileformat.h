// Trace file format: headerless IEEE 754 binary64 samples, little-endian,
// 8 bytes each; the count follows from the file size alone.
#pragma once

#include <QByteArray>
#include <QVector>

// The first `count` samples of `d` (never more than it holds).
QByteArray EncodeTrace(const QVector<double> &d, int count);

// Whole samples only: a remainder of 1 to 7 bytes is dropped.
QVector<double> DecodeTrace(const QByteArray &bytes);
