// Parsing of an IEEE 488.2 definite-length block of 32-bit floats:
// "#", one digit n (1..9), n decimal digits of byte count, the data bytes.
#pragma once

#include <QByteArray>
#include <QVector>

// n from the 2-byte header "#n"; 0 if the header is not "#" and a digit 1..9
// (the indefinite-length form "#0" included).
int blockLengthDigits(const char *header, int size);

// The byte count from exactly n decimal digits; false if fewer than n
// bytes arrived or any of them is not a digit.
bool blockByteCount(const char *digits, int size, int n, qint64 *count);

// count / 4 little-endian IEEE 754 single-precision samples from the start
// of data, widened to double; bytes beyond them are ignored. data must hold
// at least count bytes.
QVector<double> decodeFloat32Le(const QByteArray &data, qint64 count);
