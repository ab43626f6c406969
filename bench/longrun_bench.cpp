// Long runs, as an operator starts them: the real executable with
// "--measure N" against the simulated bench (Benlo, 20 000 points, no
// acquisition time), one child process per run. For each run it prints
//   - the child's peak resident memory (getrusage of the child),
//   - the median time per measurement, taken between the arrivals of
//     consecutive progress lines on the child's standard error,
//   - the finishing time: from the last progress line to the child's exit
//     (instruments back to free run, results file, run record, statistics).
//
//   build/rel/bench/longrun_bench EXE N [N ...] [--no-traces] [--points P] [--out DIR]
//
// The files go to a temporary folder (or DIR), removed after each run. With
// traces on, every measurement writes 3 x 8 x P bytes: a long run is bound by
// the disk once the page cache is full, so compare lengths that fit in it.
#include "app/settingsfile.h"
#include "sim/bench.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

struct RunFigures
{
    int status = -1;
    long peakKb = 0;
    int lines = 0;
    double medianMs = 0, p90Ms = 0, finishMs = 0, totalS = 0;
};

double Quantile(std::vector<double> v, double q)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    return v[size_t(q * double(v.size() - 1))];
}

// Runs exe with args in cwd, stderr into a pipe read here line by line.
RunFigures RunChild(const QString &exe, const QStringList &args, const QString &cwd, int count)
{
    int pipefd[2];
    if (pipe(pipefd) != 0) {
        std::perror("pipe");
        std::exit(1);
    }
    QByteArrayList argv8{exe.toLocal8Bit()};
    for (const QString &a : args)
        argv8 << a.toLocal8Bit();
    std::vector<char *> argv;
    for (QByteArray &a : argv8)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    const QByteArray dir = cwd.toLocal8Bit();

    QElapsedTimer clock;
    clock.start();
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(pipefd[1], STDERR_FILENO);
        close(pipefd[0]);
        close(pipefd[1]);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        if (chdir(dir.constData()) != 0)
            _exit(127);
        unsetenv("DISPLAY");
        unsetenv("WAYLAND_DISPLAY");
        unsetenv("QT_QPA_PLATFORM");
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(pipefd[1]);

    // "k/N Source->RF ..." lines, one per kept measurement.
    const QByteArray tail = '/' + QByteArray::number(count) + ' ';
    std::vector<double> arrivals;
    arrivals.reserve(size_t(count));
    QByteArray pending;
    char buf[65536];
    for (;;) {
        const ssize_t n = read(pipefd[0], buf, sizeof buf);
        if (n <= 0)
            break;
        const double now = clock.nsecsElapsed() / 1e6;
        pending.append(buf, int(n));
        int end;
        while ((end = pending.indexOf('\n')) >= 0) {
            const QByteArray line = pending.left(end);
            pending.remove(0, end + 1);
            const int slash = line.indexOf(tail);
            if (slash > 0 && line.left(slash).toInt() > 0)
                arrivals.push_back(now);
        }
    }
    close(pipefd[0]);
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    const double exited = clock.nsecsElapsed() / 1e6;

    RunFigures f;
    f.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    f.peakKb = usage.ru_maxrss;
    f.lines = int(arrivals.size());
    std::vector<double> steps;
    for (size_t i = 1; i < arrivals.size(); ++i)
        steps.push_back(arrivals[i] - arrivals[i - 1]);
    f.medianMs = Quantile(steps, 0.5);
    f.p90Ms = Quantile(steps, 0.9);
    f.finishMs = arrivals.empty() ? 0 : exited - arrivals.back();
    f.totalS = exited / 1000;
    return f;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    bool traces = true;
    int points = 20000;
    QString outBase;
    QString exe;
    QVector<int> counts;
    for (int i = 0; i < args.size(); ++i) {
        if (args[i] == "--no-traces")
            traces = false;
        else if (args[i] == "--points" && i + 1 < args.size())
            points = args[++i].toInt();
        else if (args[i] == "--out" && i + 1 < args.size())
            outBase = args[++i];
        else if (exe.isEmpty())
            exe = QFileInfo(args[i]).absoluteFilePath(); // the child runs in another folder
        else
            counts << args[i].toInt();
    }
    if (exe.isEmpty() || counts.isEmpty()) {
        std::fprintf(stderr, "usage: longrun_bench EXE N [N ...] [--no-traces] [--points P] [--out DIR]\n");
        return 2;
    }

    benchsim::Scenario scenario;
    scenario.oscType = QStringLiteral("Benlo");
    scenario.benloPoints = points;
    benchsim::Bench bench(scenario);
    QString error;
    if (!bench.start(&error)) {
        std::fprintf(stderr, "bench: %s\n", qPrintable(error));
        return 1;
    }
    QTemporaryDir home;
    BenchSettings s;
    s.osIp = bench.resource("osc");
    s.saIp = bench.resource("sa");
    s.vaIp = bench.resource("va");
    s.osType = 1;
    s.trgLevel = 0.035;
    const QString cfg = home.filePath("bench.cfg");
    if (!WriteBenchSettings(cfg, s, &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    qputenv("HOME", home.path().toLocal8Bit());
    qputenv("XDG_DATA_HOME", home.filePath("share").toLocal8Bit());

    std::printf("%s, %d points, traces %s\n", qPrintable(exe), points, traces ? "on" : "off");
    std::printf("%8s %6s %12s %14s %10s %12s %9s\n", "N", "status", "peak RSS MB", "median ms/meas", "p90 ms",
                "finish ms", "total s");
    for (int n : counts) {
        QTemporaryDir out(outBase.isEmpty() ? QDir::tempPath() + "/longrun-XXXXXX" : outBase + "/longrun-XXXXXX");
        QStringList runArgs{"--measure", QString::number(n), "--settings", cfg, "--out", out.filePath("runs")};
        if (!traces)
            runArgs << "--no-traces";
        bench.clearLog();
        const RunFigures f = RunChild(exe, runArgs, out.path(), n);
        std::printf("%8d %6d %12.1f %14.3f %10.3f %12.1f %9.1f\n", n, f.status, f.peakKb / 1024.0, f.medianMs, f.p90Ms,
                    f.finishMs, f.totalS);
        std::fflush(stdout);
        if (f.lines != n)
            std::printf("  (%d progress lines seen)\n", f.lines);
    }
    bench.stop();
    return 0;
}
