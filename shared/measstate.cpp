#include "shared/measstate.h"

#include "measurement/measrun.h"

QVector<double> d1;
QVector<double> d2;
QVector<double> d3;
QVector<double> t;

int NumPts = 0;

double tsrc = 0.0;
double trf = 0.0;
double tsnk = 0.0;

double AvgSrc2Rf = 0.0;
double AvgSrc2Hd = 0.0;
double AvgSrc2Snk = 0.0;

int OsTypIdx = 0;
bool MeasHdmi = false;

RunRecord LastRun;

void PublishRun(const RunOutcome &outcome)
{
    d1 = outcome.last.src;
    d2 = outcome.last.rf;
    d3 = outcome.last.snk;
    t = outcome.t;
    NumPts = outcome.numPts;
    tsrc = outcome.tsrc;
    trf = outcome.trf;
    tsnk = outcome.tsnk;
    AvgSrc2Rf = outcome.avgSrc2Rf;
    AvgSrc2Hd = outcome.avgSrc2Hd;
    AvgSrc2Snk = outcome.avgSrc2Snk;
    LastRun = outcome.record;
}
