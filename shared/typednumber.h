// Numbers typed into the window's fields, read the same way everywhere.
#pragma once

#include <QString>

// The text as a finite number, locale-free ("35e-3", " 5.192e9 "). A decimal
// comma stands for the decimal point when the text has no point ("0,027",
// "5,192e9", "12,5"): that is what a user on a German desktop types. Text
// that is no finite number ("", "abc", "nan", "inf", "1e999", "1,2,3") gives
// 0, as the tool has always done.
double TypedNumber(const QString &text, bool *ok = nullptr);

// A number as the window's fields show it: locale-free, 6 significant
// digits ("0.027", "5.192e+09"), so a German desktop still reads 0.027.
QString FieldNumber(double value);

// The most measurements one run takes; more is a typing slip.
constexpr int MaxMeasCount = 1000000;

// The number of measurements typed: a whole number from 1 to MaxMeasCount
// ("20", " 3 ", "5.0"). False for anything else ("0", "-3", "2.5", "abc").
bool TypedCount(const QString &text, int *count);
