#include "shared/measstate.h"

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
