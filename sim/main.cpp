// quenvia-benchsim: serves the simulated bench until SIGINT/SIGTERM (or the
// end of stdin with --stdin-eof), announcing its resources on one ready line
// ("benchsim ready ...", which scripts and tests wait for).
// Its --help and --version are also the text of its man page.
#include "sim/announcements.h"
#include "sim/bench.h"
#include "sim/logline.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <type_traits>
#include <mutex>

using benchsim::Fault;
using benchsim::Scenario;

namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char c = 's';
    ssize_t n = write(signalPipe[1], &c, 1);
    (void)n;
}

int fail(const QString &message)
{
    fprintf(stderr, "quenvia-benchsim: %s\n", qPrintable(message));
    return 2;
}

// Options override the scenario file member by member.
bool applyOptions(const QCommandLineParser &p, Scenario *s, QString *error)
{
    // Range-checked before the conversion, so no value wraps into another.
    auto number = [&](const char *name, auto *out, double lo, double hi) {
        if (!p.isSet(QLatin1String(name)))
            return true;
        bool ok = false;
        const double v = p.value(QLatin1String(name)).toDouble(&ok);
        using T = std::remove_pointer_t<decltype(out)>;
        const bool integral = std::is_integral<T>::value;
        if (!ok || !(v >= lo && v <= hi) || (integral && v != std::floor(v))) {
            *error = QStringLiteral("--%1 needs a number from %2 to %3").arg(QLatin1String(name)).arg(lo).arg(hi);
            return false;
        }
        *out = static_cast<T>(v);
        return true;
    };
    if (p.isSet(QStringLiteral("osc-type")))
        s->oscType = p.value(QStringLiteral("osc-type"));
    if (p.isSet(QStringLiteral("osc-idn")))
        s->oscIdn = p.value(QStringLiteral("osc-idn")).toUtf8();
    if (p.isSet(QStringLiteral("sa-idn")))
        s->saIdn = p.value(QStringLiteral("sa-idn")).toUtf8();
    if (p.isSet(QStringLiteral("va-idn")))
        s->vaIdn = p.value(QStringLiteral("va-idn")).toUtf8();
    const double big = 2147483647.0;
    const bool numbersOk = number("points", &s->benloPoints, 2, 1e7) && number("src2rf", &s->src2RfMs, -1000, 1000)
        && number("src2snk", &s->src2SnkMs, -1000, 1000) && number("jitter", &s->jitterMs, 0, 100)
        && number("noise", &s->noiseV, 0, 0.005) && number("rise-ms", &s->riseMs, 0, 100)
        && number("seed", &s->seed, 0, 4294967295.0)
        && number("reject-first", &s->rejectFirst, 0, 1e6) && number("va-stat", &s->vaStat, -big, big)
        && number("va-count", &s->vaCount, -big, big) && number("va-value", &s->vaValue, -1e300, 1e300)
        && number("acquisition-ms", &s->acquisitionMs, 0, 3600000) && number("latency-ms", &s->latencyMs, 0, 3600000)
        && number("osc-port", &s->oscPort, 0, 65535) && number("sa-port", &s->saPort, 0, 65535)
        && number("va-port", &s->vaPort, 0, 65535);
    if (!numbersOk)
        return false;
    if (p.isSet(QStringLiteral("front-panel-channels"))) {
        s->frontPanelChannels.clear();
        for (const QString &text : p.value(QStringLiteral("front-panel-channels")).split(QLatin1Char(','))) {
            bool ok = false;
            const int channel = text.trimmed().toInt(&ok);
            if (!ok || channel < 1 || channel > 4) {
                *error = QStringLiteral("--front-panel-channels needs channel numbers from 1 to 4, e.g. 3 or 2,3");
                return false;
            }
            s->frontPanelChannels.append(channel);
        }
    }
    for (const QString &text : p.values(QStringLiteral("fault"))) {
        Fault f;
        if (!Fault::fromOption(text, &f, error))
            return false;
        s->faults.append(f);
    }
    return s->validate(error);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("quenvia-benchsim"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QUENVIA_VERSION));
    QCommandLineParser p;
    p.setApplicationDescription(QStringLiteral(
        "Simulated oscilloscope, spectrum analyzer and video analyzer on raw SCPI sockets (127.0.0.1)."));
    p.addHelpOption();
    p.addVersionOption();
    const QList<QCommandLineOption> options = {
        {QStringLiteral("scenario"), QStringLiteral("Scenario JSON file."), QStringLiteral("file")},
        {QStringLiteral("osc-type"), QStringLiteral("Oscilloscope command set: Orvix or Benlo."), QStringLiteral("type")},
        {QStringLiteral("points"), QStringLiteral("Record length of the Benlo type."), QStringLiteral("n")},
        {QStringLiteral("src2rf"), QStringLiteral("True Source->RF delay, ms."), QStringLiteral("ms")},
        {QStringLiteral("src2snk"), QStringLiteral("True Source->Sink delay, ms."), QStringLiteral("ms")},
        {QStringLiteral("jitter"), QStringLiteral("Delay jitter, +- ms per acquisition."), QStringLiteral("ms")},
        {QStringLiteral("noise"), QStringLiteral("Noise on the oscilloscope channels, V rms."), QStringLiteral("V")},
        {QStringLiteral("rise-ms"), QStringLiteral("10-90 % rise time of every edge, ms (0: ideal steps)."),
         QStringLiteral("ms")},
        {QStringLiteral("seed"), QStringLiteral("Seed of noise and jitter."), QStringLiteral("n")},
        {QStringLiteral("reject-first"), QStringLiteral("First K acquisitions start outside the window."), QStringLiteral("k")},
        {QStringLiteral("front-panel-channels"),
         QStringLiteral("Oscilloscope channels switched on at the front panel before the set-up, e.g. 3."),
         QStringLiteral("list")},
        {QStringLiteral("osc-idn"), QStringLiteral("Oscilloscope *IDN? reply."), QStringLiteral("text")},
        {QStringLiteral("sa-idn"), QStringLiteral("Spectrum analyzer *IDN? reply."), QStringLiteral("text")},
        {QStringLiteral("va-idn"), QStringLiteral("Video analyzer *IDN? reply."), QStringLiteral("text")},
        {QStringLiteral("va-stat"), QStringLiteral("READ:AVDA:TTV:STAT? reply."), QStringLiteral("n")},
        {QStringLiteral("va-count"), QStringLiteral("READ:AVDA:TTV:COUN? reply."), QStringLiteral("n")},
        {QStringLiteral("va-value"), QStringLiteral("READ:AVDA:TTV:VAL? reply."), QStringLiteral("x")},
        {QStringLiteral("acquisition-ms"), QStringLiteral("Acquisition time after *TRG, ms."), QStringLiteral("ms")},
        {QStringLiteral("latency-ms"), QStringLiteral("Latency of every response, ms."), QStringLiteral("ms")},
        {QStringLiteral("osc-port"), QStringLiteral("Oscilloscope port (0: free port)."), QStringLiteral("port")},
        {QStringLiteral("sa-port"), QStringLiteral("Spectrum analyzer port."), QStringLiteral("port")},
        {QStringLiteral("va-port"), QStringLiteral("Video analyzer port."), QStringLiteral("port")},
        {QStringLiteral("fault"),
         QStringLiteral("Inject a fault: instrument:kind[=delayMs][@k]:pattern (repeatable)."),
         QStringLiteral("fault")},
        {QStringLiteral("log"), QStringLiteral("Write the command log as JSON lines."), QStringLiteral("file")},
        {QStringLiteral("stdin-eof"), QStringLiteral("Also stop when stdin closes.")},
        {QStringLiteral("vxi11"),
         QStringLiteral("Also serve VXI-11 on 127.0.0.1/.2/.3 with a portmapper on port 111 (needs privileges, "
                        "e.g. inside unshare -rn).")},
        {QStringLiteral("vxi11-direct"),
         QStringLiteral("Also serve VXI-11 on 127.0.0.1 without a portmapper (TCPIP::127.0.0.1,<port>::instN::INSTR).")},
        {QStringLiteral("hislip"),
         QStringLiteral("Also serve HiSLIP on 127.0.0.1, osc/sa/va as hislip0/1/2 "
                        "(TCPIP::127.0.0.1::hislipN,<port>::INSTR); with --vxi11 each as hislip0 on "
                        "127.0.0.1/2/3, the same port on each.")},
        {QStringLiteral("hislip-port"), QStringLiteral("HiSLIP port (0: a free port, the default); implies --hislip."),
         QStringLiteral("port")},
        {QStringLiteral("mdns"),
         QStringLiteral("Announce the instruments by mDNS on UDP port 5353, on interfaces with a 127.x address only "
                        "(needs privileges and multicast, e.g. inside unshare -rn).")},
    };
    p.addOptions(options);
    p.process(app);

    Scenario scenario;
    QString error;
    if (p.isSet(QStringLiteral("scenario"))) {
        QFile file(p.value(QStringLiteral("scenario")));
        if (!file.open(QIODevice::ReadOnly))
            return fail(QStringLiteral("cannot read %1: %2").arg(file.fileName(), file.errorString()));
        scenario = Scenario::fromJson(file.readAll(), &error);
        if (!error.isEmpty())
            return fail(QStringLiteral("%1: %2").arg(file.fileName(), error));
    }
    if (!applyOptions(p, &scenario, &error))
        return fail(error);

    QFile logFile;
    std::mutex logMutex;
    benchsim::Bench bench(scenario);
    if (p.isSet(QStringLiteral("log"))) {
        logFile.setFileName(p.value(QStringLiteral("log")));
        if (!logFile.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return fail(QStringLiteral("cannot write %1: %2").arg(logFile.fileName(), logFile.errorString()));
        bench.setLogListener([&](const benchsim::LogEntry &e) {
            std::lock_guard<std::mutex> lock(logMutex);
            logFile.write(benchsim::logLine(e));
            logFile.flush();
        });
    }

    if (pipe2(signalPipe, O_CLOEXEC) != 0)
        return fail(QStringLiteral("pipe failed"));
    struct sigaction sa = {};
    sa.sa_handler = onSignal;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);

    quint16 hislipPort = 0;
    const bool hislip = p.isSet(QStringLiteral("hislip")) || p.isSet(QStringLiteral("hislip-port"));
    if (p.isSet(QStringLiteral("hislip-port"))) {
        bool ok = false;
        const uint v = p.value(QStringLiteral("hislip-port")).toUInt(&ok);
        if (!ok || v > 65535)
            return fail(QStringLiteral("--hislip-port needs a number from 0 to 65535"));
        hislipPort = quint16(v);
    }

    if (!bench.start(&error))
        return fail(error);
    const bool vxi11 = p.isSet(QStringLiteral("vxi11")) || p.isSet(QStringLiteral("vxi11-direct"));
    if (vxi11 && !bench.startVxi11(&error, !p.isSet(QStringLiteral("vxi11-direct"))))
        return fail(QStringLiteral("VXI-11: %1").arg(error));
    // Beside VXI-11's portmapper, each instrument gets its own address on
    // HiSLIP too, where mDNS can name it.
    const bool perAddress = p.isSet(QStringLiteral("vxi11")) && !p.isSet(QStringLiteral("vxi11-direct"));
    if (hislip && !bench.startHislip(&error, hislipPort, perAddress))
        return fail(QStringLiteral("HiSLIP: %1").arg(error));
    benchsim::MdnsResponder mdns(benchsim::mdnsHosts(benchsim::benchAnnouncements(bench)));
    std::string mdnsError;
    if (p.isSet(QStringLiteral("mdns")) && !mdns.start(&mdnsError))
        return fail(QStringLiteral("mDNS: %1").arg(QString::fromStdString(mdnsError)));
    printf("benchsim ready osc=%s sa=%s va=%s\n", qPrintable(bench.resource(QStringLiteral("osc"))),
           qPrintable(bench.resource(QStringLiteral("sa"))), qPrintable(bench.resource(QStringLiteral("va"))));
    if (vxi11)
        printf("benchsim vxi11 osc=%s sa=%s va=%s\n", qPrintable(bench.vxi11Resource(QStringLiteral("osc"))),
               qPrintable(bench.vxi11Resource(QStringLiteral("sa"))),
               qPrintable(bench.vxi11Resource(QStringLiteral("va"))));
    if (hislip)
        printf("benchsim hislip osc=%s sa=%s va=%s\n", qPrintable(bench.hislipResource(QStringLiteral("osc"))),
               qPrintable(bench.hislipResource(QStringLiteral("sa"))),
               qPrintable(bench.hislipResource(QStringLiteral("va"))));
    fflush(stdout);

    const bool watchStdin = p.isSet(QStringLiteral("stdin-eof"));
    for (;;) {
        pollfd fds[2] = {{signalPipe[0], POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
        if (poll(fds, watchStdin ? 2 : 1, -1) < 0)
            continue; // EINTR: the handler wrote to the pipe
        if (fds[0].revents)
            break;
        if (watchStdin && fds[1].revents) {
            char buf[4096];
            const ssize_t n = read(STDIN_FILENO, buf, sizeof buf);
            if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN))
                break;
        }
    }
    mdns.stop();
    bench.stop();
    return 0;
}
