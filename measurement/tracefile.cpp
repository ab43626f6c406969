#include "app/mainwindow.h"
#include "measurement/runfiles.h"
#include "measurement/tracefileformat.h"

#include <QFile>
#include <QMessageBox>

int MainWindow::SaveBinFile(QString fnam, QVector<double> d, ViInt32 cnt)
{
    return SaveTraceFile(fnam, d, cnt);
}

int MainWindow::LoadBinFile(QString fnam, QVector<double> *d, ViInt32 *cnt)
{
    QFile file(fnam);
    if (!file.open(QIODevice::ReadOnly)) {
        QMessageBox::warning(this, tr("File Error"), tr("File not found."));
        return -1;
    }
    const QVector<double> samples = DecodeTrace(file.readAll());
    file.close();
    *cnt = samples.size();
    *d += samples;
    return 0;
}
