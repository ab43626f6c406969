// What the simulated bench plays: instrument types and identities, the true
// delays, noise and jitter, timing, and injected faults. Read from a JSON
// file by benchsim or built in code by tests.
#pragma once

#include <QByteArray>
#include <QString>
#include <QVector>

namespace benchsim {

// One injected fault. The pattern is a plain, case-sensitive substring of the
// received program message (the whole line without its line feed), so
// "CHAN1:DATA?" or "*TRG" match as written; no regular expressions.
// The instrument still executes a faulted message (state changes, the
// acquisition happens); only what goes back on the wire changes.
struct Fault {
    enum class Kind {
        NoReply,          // swallow the reply: the client times out
        Close,            // drop the connection instead of replying
        Late,             // reply after delayMs
        Garbage,          // reply a line of text that is neither a number nor a block
        BlockDigit0,      // "#0" indefinite-length header
        BlockNonDigit,    // "#x..." header
        BlockShortLength, // fewer length digits than the header digit announces
        BlockShortData,   // fewer data bytes than the count announces
        BlockHugeCount,   // count of 999999999 bytes
        DeviceIoTimeout,  // VXI-11 device error 15; nothing on a raw socket
        DeviceIoError,    // VXI-11 device error 17; nothing on a raw socket
    };
    QString instrument; // "osc", "sa" or "va"
    QByteArray pattern;
    int occurrence = 0; // 0: every match; k: only the k-th match (1-based)
    Kind kind = Kind::NoReply;
    int delayMs = 0; // Late only

    static bool kindFromName(const QString &name, Kind *kind);
    static QString kindName(Kind kind);
    // Command-line form "<instrument>:<kind>[=<delayMs>][@<k>]:<pattern>",
    // e.g. "osc:Late=6000@2:*TRG" or "sa:NoReply:TRAC?". The pattern is the
    // rest of the text and may itself contain ':'.
    static bool fromOption(const QString &text, Fault *fault, QString *error);
};

struct Scenario {
    QString oscType = QStringLiteral("Orvix"); // "Orvix" or "Benlo" command set
    int benloPoints = 20000;                   // record length of the Benlo type (Orvix: "ACQ:POIN n")
    double src2RfMs = 40.0;                    // true Source->RF delay
    double src2SnkMs = 120.0;                  // true Source->Sink delay
    double jitterMs = 0.0;                     // each delay varies uniformly within +-jitterMs per acquisition
    double noiseV = 0.002;                     // rms noise on the oscilloscope channels, volts (at most 0.005)
    // 10-90 % rise time of every edge, ms: each becomes a linear ramp of
    // riseMs / 0.8 centred on the edge's time. 0 plays ideal steps.
    double riseMs = 0.0;
    quint32 seed = 1;
    int rejectFirst = 0; // the first K acquisitions start outside the -0.05..0.3 V window
    // Oscilloscope channels (1..4) the operator switched on at the front panel
    // before the set-up, e.g. channel 3 for a set-up that never switches it on
    // itself. "*RST" still switches them off again.
    QVector<int> frontPanelChannels;

    QByteArray oscIdn; // empty: a default naming the oscilloscope type
    QByteArray saIdn = "Benchsim,SA-ZS1,000101,1.0";
    QByteArray vaIdn = "Benchsim,VA-HD1,000201,1.0";
    int vaStat = 1;        // "READ:AVDA:TTV:STAT?"
    int vaCount = 10;      // "READ:AVDA:TTV:COUN?"
    double vaValue = 35.0; // "READ:AVDA:TTV:VAL?"

    int acquisitionMs = 0; // "*TRG;*OPC?" answers this long after the trigger
    int latencyMs = 0;     // added before every response

    // Listening ports on 127.0.0.1 for the raw-socket servers; 0 picks a free one.
    quint16 oscPort = 0;
    quint16 saPort = 0;
    quint16 vaPort = 0;

    QVector<Fault> faults;

    bool isBenlo() const { return oscType == QLatin1String("Benlo"); }

    // Parses a JSON object with the member names above (faults as an array of
    // {"instrument","pattern","occurrence","kind","delayMs"}). Unknown keys and
    // out-of-range values are errors, so a typo never plays a different bench.
    static Scenario fromJson(const QByteArray &json, QString *error);
    // Range checks shared by the JSON reader and the command line.
    bool validate(QString *error) const;
};

} // namespace benchsim
