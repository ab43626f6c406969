// Getting a run's files onto the disk itself, not only into the system's
// cache: once a second, on a thread of its own, every file written since
// the last round is synced (fdatasync), then the files that grow all run
// long (delay table, journal), then the folder, whose new names a power cut
// would otherwise lose. A process that is killed loses nothing the system
// already holds; a power cut loses at most the last second.
//
// The measurement thread only notes names. It waits for the disk only when
// a round has taken longer than a round's interval (a run writing faster
// than the disk takes it): the files not yet on the disk then never span
// more than about two rounds.
#pragma once

#include <QString>
#include <QStringList>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

// The folder's entries (new names, removed names) onto the disk.
void SyncFolder(const QString &folder);

class FileSync
{
public:
    // Rounds this far apart (ms); 0 syncs only at finish().
    explicit FileSync(int intervalMs = 1000);
    ~FileSync(); // finish()

    // The folder of the run's files and the descriptors of the files kept
    // open all run long; before the first written(). The descriptors must
    // stay open until finish() returns.
    void start(const QString &folder, std::vector<int> growing);
    // A file written in full and closed since the last round; waits while
    // the round under way has run longer than the interval.
    void written(const QString &path);
    // One last round for everything noted, then the thread ends.
    void finish();

    int rounds() const; // rounds completed, the last included

private:
    void run();
    void round(const QStringList &files);

    const int intervalMs_;
    QString folder_;
    std::vector<int> growing_;
    mutable std::mutex mutex_;
    std::condition_variable wake_, roundDone_;
    QStringList pending_;
    bool stop_ = false;
    bool busy_ = false; // a round under way, since roundStart_
    std::chrono::steady_clock::time_point roundStart_;
    int rounds_ = 0;
    std::thread thread_;
};
