#include "app/mainwindow.h"
#include "instruments/readblock.h"

bool MainWindow::ReadArray(ViSession hdl, QString cmd, QVector<double> *arr)
{
    // Commands are plain ASCII; an empty one would skip the write.
    const QByteArray bytes = cmd.toLocal8Bit();
    if (bytes.isEmpty())
        return false;
    return ReadBlock(hdl, bytes, arr).ok;
}

bool MainWindow::IntReadArray(ViSession hdl, QVector<double> *arr)
{
    return ReadBlock(hdl, QByteArray(), arr).ok;
}
