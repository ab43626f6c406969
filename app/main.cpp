#include "app/commandline.h"
#include "app/headless.h"
#include "app/mainwindow.h"

#include <QApplication>
#include <QFileInfo>

#include <cstdio>

int main(int argc, char *argv[])
{
    // Options of our own mean no window: nothing here may need a display.
    QStringList args;
    for (int i = 0; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    if (WantsCommandLine(args))
        return HeadlessMain(argc, argv);

    // Qt would abort without a display; say why instead.
    const QString why = WindowCannotOpen(args, QProcessEnvironment::systemEnvironment());
    if (!why.isEmpty()) {
        const QByteArray program = QFileInfo(args.value(0)).fileName().toLocal8Bit();
        std::fprintf(stderr, "%s: %s\nTry \"%s --help\".\n", program.constData(), why.toLocal8Bit().constData(),
                     program.constData());
        return ExitUsage;
    }

    QApplication app(argc, argv);
    MainWindow w;
    w.show();
    return app.exec();
}
