#include "measurement/filesync.h"

#include <QFile>

#include <fcntl.h>
#include <unistd.h>

namespace {

// Errors are not reported: a file that cannot be synced was written all
// the same, and the run's report names files that could not be written.
void SyncPath(const QByteArray &path, bool folder)
{
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC | (folder ? O_DIRECTORY : 0));
    if (fd < 0)
        return;
    if (folder)
        ::fsync(fd);
    else
        ::fdatasync(fd);
    ::close(fd);
}

} // namespace

void SyncFolder(const QString &folder)
{
    SyncPath(QFile::encodeName(folder), true);
}

FileSync::FileSync(int intervalMs) : intervalMs_(intervalMs) {}

FileSync::~FileSync()
{
    finish();
}

void FileSync::start(const QString &folder, std::vector<int> growing)
{
    folder_ = folder;
    growing_ = std::move(growing);
    thread_ = std::thread([this] { run(); });
}

void FileSync::written(const QString &path)
{
    std::unique_lock<std::mutex> lock(mutex_);
    pending_ << path;
    const auto interval = std::chrono::milliseconds(intervalMs_);
    while (intervalMs_ > 0 && busy_ && std::chrono::steady_clock::now() - roundStart_ >= interval)
        roundDone_.wait(lock);
}

void FileSync::finish()
{
    if (!thread_.joinable())
        return;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    wake_.notify_one();
    thread_.join();
}

int FileSync::rounds() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return rounds_;
}

void FileSync::run()
{
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        if (intervalMs_ > 0)
            wake_.wait_for(lock, std::chrono::milliseconds(intervalMs_), [this] { return stop_; });
        else
            wake_.wait(lock, [this] { return stop_; });
        const bool last = stop_;
        const QStringList files = pending_;
        pending_.clear();
        busy_ = true;
        roundStart_ = std::chrono::steady_clock::now();
        lock.unlock();
        round(files);
        lock.lock();
        busy_ = false;
        ++rounds_;
        roundDone_.notify_all();
        if (last)
            return;
    }
}

void FileSync::round(const QStringList &files)
{
    for (const QString &path : files)
        SyncPath(QFile::encodeName(path), false);
    // The table and the journal after the trace files they name.
    for (int fd : growing_)
        ::fdatasync(fd);
    if (!folder_.isEmpty())
        SyncPath(QFile::encodeName(folder_), true);
}
