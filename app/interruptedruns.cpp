#include "app/mainwindow.h"

#include "measurement/resultsfile.h"
#include "measurement/runrecovery.h"

#include <QFileInfo>
#include <QStatusBar>
#include <QStringList>

// No dialog: the window comes up as always, and the operator who looks
// finds the run's files where they belong.
void MainWindow::FinishInterruptedRuns()
{
    // Every file of a run starts with the data directory's last component.
    const QFileInfo files(ResultsFileName(DataDir, QString()));
    const QString prefix = files.fileName().chopped(int(qstrlen("Results.txt")));
    QStringList said;
    for (const RecoveredRun &r : RecoverRuns(files.absolutePath(), prefix))
        if (r.state == RecoveredRun::State::Finished || r.state == RecoveredRun::State::Unreadable)
            said << RecoveredRunText(r);
    if (!said.isEmpty())
        statusBar()->showMessage(said.join(QStringLiteral("; ")));
}
