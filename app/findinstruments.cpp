#include "app/findinstruments.h"

#include "instruments/visasession.h"
#include "instruments/visastatustext.h"

#include <QElapsedTimer>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

namespace {

// Instruments asked for their identity at the same time.
constexpr int AskersAtOnce = 16;
constexpr int IdentityChars = 200;
// VI_ATTR_FIND_HOSTS holds this many characters.
constexpr int HostsChars = VI_FIND_BUFLEN - 1;

using Clock = std::chrono::steady_clock;

// The resources being asked, shared with the threads asking them: a thread
// whose instrument went silent may outlive the search, and the resource
// manager stays open until the last of them is done.
struct Asking
{
    std::mutex mutex;
    std::condition_variable changed;
    QVector<FoundInstrument> items;
    QVector<bool> answered;
    int next = 0;
    int done = 0;    // resources asked
    int running = 0; // threads still asking or closing
    Clock::time_point deadline;
    std::shared_ptr<ViSession> rm;
};

int MsLeft(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? int(left) : 0;
}

void AskIdentities(std::shared_ptr<Asking> a)
{
    for (;;) {
        int i = 0;
        QString resource;
        {
            std::lock_guard<std::mutex> lock(a->mutex);
            if (a->next >= a->items.size()) {
                --a->running;
                a->changed.notify_all();
                return;
            }
            i = a->next++;
            resource = a->items[i].resource;
        }
        QString reply, problem;
        ViSession vi = 0;
        int leftMs = MsLeft(a->deadline);
        ViStatus status = leftMs > 0 ? VisaOpen(*a->rm, resource, VI_NULL, ViUInt32(leftMs), vi) : VI_ERROR_TMO;
        if (status == VI_SUCCESS) {
            leftMs = std::max(1, MsLeft(a->deadline));
            VisaSetAttribute(vi, VI_ATTR_TMO_VALUE, ViUInt32(leftMs));
            status = VisaQuery(vi, QStringLiteral("*IDN?\n"), reply);
        }
        if (status != VI_SUCCESS)
            problem = QStringLiteral("no answer to *IDN?: %1").arg(VisaStatusText(status, ViUInt32(leftMs)));
        else if (PrintableIdentity(reply).isEmpty())
            problem = QStringLiteral("empty answer to *IDN?");
        {
            std::lock_guard<std::mutex> lock(a->mutex);
            a->items[i].identity = PrintableIdentity(reply);
            a->items[i].problem = problem;
            a->answered[i] = true;
            ++a->done;
        }
        a->changed.notify_all();
        // After the answer is in: closing a link may take a while.
        if (vi != 0)
            VisaClose(vi);
    }
}

// HiSLIP first, then VXI-11, then raw sockets: the order a lab prefers them.
int ProtocolRank(const QString &resource)
{
    if (resource.contains(QLatin1String("::hislip"), Qt::CaseInsensitive))
        return 0;
    return resource.endsWith(QLatin1String("::INSTR"), Qt::CaseInsensitive) ? 1 : 2;
}

bool Before(const FoundInstrument &a, const FoundInstrument &b)
{
    if (a.identity.isEmpty() != b.identity.isEmpty())
        return !a.identity.isEmpty();
    if (a.identity != b.identity)
        return a.identity < b.identity;
    if (ProtocolRank(a.resource) != ProtocolRank(b.resource))
        return ProtocolRank(a.resource) < ProtocolRank(b.resource);
    return a.resource < b.resource;
}

QVector<FoundInstrument> Search(ViSession rm, ViUInt32 timeoutMs)
{
    QVector<FoundInstrument> found;
    VisaSetAttribute(rm, VI_ATTR_TMO_VALUE, timeoutMs);
    ViSession list = 0;
    ViUInt32 count = 0;
    QString resource;
    if (VisaFindRsrc(rm, QStringLiteral("?*"), list, count, resource) != VI_SUCCESS)
        return found;
    for (ViUInt32 i = 0; i < count; ++i) {
        if (i > 0 && VisaFindNext(list, resource) != VI_SUCCESS)
            break;
        found.append({resource, QString(), QString()});
    }
    VisaClose(list);
    return found;
}

} // namespace

QString PrintableIdentity(const QString &reply)
{
    QString out;
    for (const QChar c : reply) {
        const QChar::Category cat = c.category();
        const bool hidden = cat == QChar::Other_Control || cat == QChar::Other_Format || cat == QChar::Other_Surrogate
                            || cat == QChar::Other_NotAssigned || cat == QChar::Other_PrivateUse;
        out += hidden || c.isSpace() ? QLatin1Char(' ') : c;
    }
    out = out.trimmed();
    if (out.size() > IdentityChars)
        out = out.left(IdentityChars - 3) + QLatin1String("...");
    return out;
}

QString HostsProblem(const QStringList &hosts)
{
    ViSession rm = 0;
    if (VisaOpenDefaultRM(rm) != VI_SUCCESS)
        return QStringLiteral("VISA resource manager not available");
    QString problem;
    for (const QString &host : hosts) {
        if (VisaSetAttributeText(rm, VI_ATTR_FIND_HOSTS, host) != VI_SUCCESS) {
            problem = QStringLiteral("\"%1\" is no host name, IPv4 address or subnet a.b.c.d/n of at most 4096 "
                                     "addresses")
                          .arg(host);
            break;
        }
    }
    if (problem.isEmpty() && VisaSetAttributeText(rm, VI_ATTR_FIND_HOSTS, hosts.join(QLatin1Char(' '))) != VI_SUCCESS)
        problem = QStringLiteral("too many hosts to ask: at most %1 characters, or 16 names, in all").arg(HostsChars);
    VisaClose(rm);
    return problem;
}

FindOutcome FindInstruments(const FindRequest &request)
{
    FindOutcome outcome;
    QElapsedTimer elapsed;
    elapsed.start();
    const int timeoutMs = std::min(std::max(request.timeoutMs, 1), MaxFindTimeoutMs);
    auto asking = std::make_shared<Asking>();
    asking->deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);

    ViSession rm = 0;
    if (VisaOpenDefaultRM(rm) != VI_SUCCESS) {
        outcome.error = QStringLiteral("VISA resource manager not available");
        return outcome;
    }
    asking->rm = std::shared_ptr<ViSession>(new ViSession(rm), [](ViSession *vi) {
        VisaClose(*vi);
        delete vi;
    });
    if (!request.hosts.isEmpty()
        && VisaSetAttributeText(rm, VI_ATTR_FIND_HOSTS, request.hosts.join(QLatin1Char(' '))) != VI_SUCCESS) {
        outcome.error = HostsProblem(request.hosts);
        return outcome;
    }

    asking->items = Search(rm, ViUInt32(timeoutMs / 2));
    asking->answered.fill(false, asking->items.size());
    const int askers = std::min(AskersAtOnce, int(asking->items.size()));
    for (int i = 0; i < askers; ++i) {
        std::lock_guard<std::mutex> lock(asking->mutex);
        try {
            std::thread(AskIdentities, asking).detach();
            ++asking->running;
        } catch (const std::exception &) {
            break; // the threads there are ask the rest
        }
    }

    // Every answer, then every thread done closing its session, or the time-out.
    std::unique_lock<std::mutex> lock(asking->mutex);
    asking->changed.wait_until(lock, asking->deadline, [&] { return asking->done == asking->items.size(); });
    asking->changed.wait_until(lock, asking->deadline, [&] { return asking->running == 0; });
    outcome.found = asking->items;
    outcome.stillAsking = asking->running > 0;
    // The resource manager is closed here while the askers are done with it,
    // not by whichever of them lets go of the shared state last: that may be
    // after the program has ended and VISA's session table is gone.
    if (!outcome.stillAsking)
        asking->rm.reset();
    for (int i = 0; i < outcome.found.size(); ++i) {
        if (!asking->answered[i])
            outcome.found[i].problem = QStringLiteral("no answer to *IDN? in time");
    }
    lock.unlock();
    std::sort(outcome.found.begin(), outcome.found.end(), Before);
    outcome.elapsedMs = int(elapsed.elapsed());
    return outcome;
}
