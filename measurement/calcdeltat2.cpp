#include "app/mainwindow.h"
#include "measurement/delaycalc.h"
#include "shared/measstate.h"

void MainWindow::CalcDeltaT2(int pts, QVector<double> *d1, QVector<double> *d2, QVector<double> *d3,
                             QVector<double> *t, double *Src2Rf, double *Src2Snk)
{
    const DelayResult r = CalcDelays(pts, *d1, *d2, *d3, *t, OscTypeOf(OsTypIdx));
    tsrc = r.tsrc;
    trf = r.trf;
    tsnk = r.tsnk;
    *Src2Rf = r.Src2Rf;
    *Src2Snk = r.Src2Snk;
}
