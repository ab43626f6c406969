// The limits a run was judged by, as JUnit XML for a CI server: one test
// case per --limit in the layout CI servers read (testsuites, one
// testsuite, its testcases, each with a failure or an error where it did
// not pass).
#pragma once

#include "measurement/limitverdict.h"

#include <QByteArray>
#include <QPair>
#include <QString>
#include <QVector>

struct JUnitRun
{
    QString suite;   // the test suite's name and the test cases' class name
    QString started; // when the run started, ISO 8601 as the record has it
    double seconds = 0.0; // how long the run took
    QVector<LimitVerdict> limits;
    // Not empty: the limits could not be judged (the run did not take
    // place), and why; each becomes an error.
    QString notJudged;
    QVector<QPair<QString, QString>> properties; // the tool, the run's stamp, its record, ...
    QString output; // the run in a few lines, as the test suite's system-out
};

// A limit met passes; exceeded is a failure of type "exceeded", one lying
// within the figure's uncertainty a failure of type "inconclusive"; each
// failure's message gives the figure, the limit and, guarded, U. Times in
// seconds.
QByteArray JUnitXml(const JUnitRun &run);

// Written atomically; empty when written, else the reason.
QString WriteJUnitFile(const QString &path, const JUnitRun &run);
