// The settings file as the application reads it at start: MainWindow's
// LoadCfgFile on an offscreen window, with the input as the file.
#include "app/mainwindow.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

QTemporaryDir *home;
MainWindow *window;

void removeHome()
{
    delete home; // its folder and every file in it
    home = nullptr;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // The window reads and writes its own settings under XDG_DATA_HOME: a
    // private folder, never the user's.
    home = new QTemporaryDir;
    if (!home->isValid())
        std::abort();
    qputenv("XDG_DATA_HOME", home->path().toLocal8Bit());
    std::atexit(removeHome);
    new QApplication(*argc, *argv);
    window = new MainWindow;
    // Fonts and styles are set up on first use, once per process: not per input.
    window->LoadCfgFile(home->filePath(QStringLiteral("none.cfg")));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // A new name each time: QSettings caches files by name and would not see
    // a rewrite within the same second.
    static unsigned serial;
    const QString name = home->filePath(QStringLiteral("in%1.cfg").arg(++serial));
    QFile file(name);
    if (!file.open(QIODevice::WriteOnly) || file.write(reinterpret_cast<const char *>(data), qint64(size)) != qint64(size))
        std::abort();
    file.close();
    window->LoadCfgFile(name);
    QFile::remove(name);
    return 0;
}
