// Reading one waveform from an instrument: the command, the IEEE 488.2
// definite-length block of float32 samples spooled through "Trace.tmp", and
// the samples. Free functions so the measurement run can use them without a
// window; MainWindow's ReadArray / IntReadArray slots are thin wrappers.
#pragma once

#include "shared/visatypes.h"

#include <QString>
#include <QVector>

// The largest block accepted: 10 million float32 samples (40 MB). The tool's
// acquisitions use records of 20000 points, and the deepest record the
// supported oscilloscope types deliver in one transfer is 10 million points;
// a header that declares more is a fault of the instrument (or of whatever
// answers at its address), and is refused before any data is read.
constexpr qint64 MaxBlockBytes = 40000000;

// The block travels through this file in the current directory.
extern const char TraceSpoolFile[];

// What went wrong, for a message that names the cause.
enum class BlockFailure {
    None,
    Command,   // the command could not be sent
    Header,    // no "#<n><count>" header (another reply, a time-out, a lost connection)
    TooLarge,  // the header declares more than MaxBlockBytes
    Transfer,  // the data did not arrive in full
    SpoolFile, // the spool file ("Trace.tmp") could not be created, written or read back
};

struct BlockRead
{
    bool ok = false;
    BlockFailure failure = BlockFailure::None;
    ViStatus status = VI_SUCCESS; // the VISA status of the call that failed, if one did
    qint64 declaredBytes = 0;
    QString spoolError; // SpoolFile: the file's full path and the system's reason
};

// Sends cmd (unless empty) and reads the block it answers into *arr. On any
// failure *arr is left as it was and "Trace.tmp" does not stay behind.
BlockRead ReadBlock(ViSession hdl, const QByteArray &cmd, QVector<double> *arr);

// The same through another spool file: a process of its own needs one that
// no other process uses at the same time. It does not stay behind either.
BlockRead ReadBlock(ViSession hdl, const QByteArray &cmd, QVector<double> *arr, const QString &spoolFile);
