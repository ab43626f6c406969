#include "app/mainwindow.h"
#include "instruments/blockread.h"
#include "instruments/visasession.h"

#include <QFile>

namespace {

// The block is spooled through this file in the current directory.
const char kTraceTmp[] = "Trace.tmp";

} // namespace

bool MainWindow::ReadArray(ViSession hdl, QString cmd, QVector<double> *arr)
{
    const QByteArray bytes = cmd.toLocal8Bit();
    if (VisaWrite(hdl, reinterpret_cast<const ViByte *>(bytes.constData()), ViUInt32(bytes.size()), VI_NULL)
        != VI_SUCCESS)
        return false;
    return IntReadArray(hdl, arr);
}

bool MainWindow::IntReadArray(ViSession hdl, QVector<double> *arr)
{
    if (!arr)
        return false;
    // Completion codes such as VI_SUCCESS_MAX_CNT are normal for these reads:
    // only a negative status is a failure.
    char buf[100] = {};
    ViUInt32 got = 0;
    if (VisaRead(hdl, reinterpret_cast<ViByte *>(buf), 2, got) < 0 || got < 2 || buf[0] != '#')
        return false;
    const int n = blockLengthDigits(buf, int(got));
    if (n == 0)
        return false;
    if (VisaRead(hdl, reinterpret_cast<ViByte *>(buf), ViUInt32(n), got) < 0)
        return false;
    qint64 count = 0;
    if (!blockByteCount(buf, int(got), n, &count))
        return false;

    // Ten bytes more than the data: the read stops at the end of the
    // message, so the file gets the data and the terminator after it.
    if (VisaReadToFile(hdl, kTraceTmp, ViUInt32(count + 10), got) < 0)
        return false;
    QFile file(kTraceTmp);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray data = file.readAll();
    file.close();
    // A short transfer is no trace: keep the caller's previous one.
    if (data.size() < count)
        return false;
    *arr = decodeFloat32Le(data, count);
    QFile::remove(kTraceTmp);
    return true;
}
