#include "app/commandline.h"
#include "app/headless.h"
#include "app/mainwindow.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    // Options of our own mean no window: nothing here may need a display.
    QStringList args;
    for (int i = 0; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    if (WantsCommandLine(args))
        return HeadlessMain(argc, argv);

    QApplication app(argc, argv);
    MainWindow w;
    w.show();
    return app.exec();
}
