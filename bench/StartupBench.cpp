// Start-up of the real client binary: from the moment its process is started
// to the first frame of its main window, over several starts; then, on the
// last start, its resident memory once it has sat idle with everything the
// launch shows (the main window, the recording widget once it exists) and the
// meeting detector polling, and the CPU it used while idle, after the first
// seconds in which it loads what it shows. Nobody touches its windows. The
// client reports its first frame only because ECHOQUILL_REPORT_FIRST_FRAME is
// set. Run by scripts/bench inside the test desktop, with the local service up
// and, for a signed-in start, a token stored.
//
//   bench_startup CLIENT [STARTS] [IDLE_SECONDS] [NOTE]
//
// NOTE goes into the figure lines ("signed in, ..."), to tell runs in another setting apart.
// With STARTS 0 only the idle lines are printed, for the one start made.
// Details go to standard error; standard output gets the "[figure]" lines.
#include "ProcStatus.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <optional>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

qint64 monotonicNs()
{
    timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// Starts the client and waits for its first-frame line: seconds from start, or nothing.
std::optional<double> start(QProcess& client, const QString& program)
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"ECHOQUILL_REPORT_FIRST_FRAME"_s, u"1"_s);
    client.setProcessEnvironment(environment);
    client.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    static const QRegularExpression line(
        u"^\\[EchoquillDesktopApp\\] first frame at monotonic (\\d+) ns$"_s, QRegularExpression::MultilineOption);

    const qint64 startedNs = monotonicNs();
    client.start(program, {});
    QByteArray output;
    QDeadlineTimer deadline(60000);
    while (!deadline.hasExpired() && client.state() != QProcess::NotRunning) {
        client.waitForReadyRead(100);
        output += client.readAllStandardOutput();
        if (const auto match = line.match(QString::fromUtf8(output)); match.hasMatch())
            return (match.captured(1).toLongLong() - startedNs) / 1e9;
    }
    std::fprintf(stderr, "no first frame from %s; it printed:\n%s\n", qPrintable(program), output.constData());
    return std::nullopt;
}

// Proportional share of the resident pages, in kB (shared libraries split among their users).
qint64 pssKiB(qint64 pid)
{
    QFile rollup(u"/proc/%1/smaps_rollup"_s.arg(pid));
    if (!rollup.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& l : rollup.readAll().split('\n'))
        if (l.startsWith("Pss:"))
            return l.mid(4).trimmed().split(' ').value(0).toLongLong();
    return -1;
}

// User plus system CPU time of the process, in clock ticks.
qint64 cpuTicks(qint64 pid)
{
    QFile stat(u"/proc/%1/stat"_s.arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray text = stat.readAll();
    // Fields after the command name, which may hold spaces: state is field 3, utime 14, stime 15.
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    return fields.value(11).toLongLong() + fields.value(12).toLongLong();
}

QByteArray xdotool(const QStringList& arguments)
{
    QProcess run;
    run.start(u"xdotool"_s, arguments);
    run.waitForFinished(10000);
    return run.readAllStandardOutput().trimmed();
}

// The titles of the process's visible top-level windows, the active one marked.
QStringList visibleWindows(qint64 pid)
{
    const QByteArray active = xdotool({ u"getactivewindow"_s });
    QStringList titles;
    for (const QByteArray& id :
        xdotool({ u"search"_s, u"--onlyvisible"_s, u"--pid"_s, QString::number(pid) }).split('\n')) {
        if (id.isEmpty())
            continue;
        titles << u"\""_s + QString::fromUtf8(xdotool({ u"getwindowname"_s, QString::fromLatin1(id) })) + u"\""_s
                + (id == active ? u" (active)"_s : QString());
    }
    return titles;
}

// Waits while the client runs, reading what it prints; false if it ended.
bool idleFor(QProcess& client, int seconds)
{
    QDeadlineTimer idle(seconds * 1000);
    while (!idle.hasExpired() && client.state() == QProcess::Running) {
        client.waitForReadyRead(200);
        client.readAllStandardOutput();
    }
    return client.state() == QProcess::Running;
}

void stop(QProcess& client)
{
    client.terminate();
    if (!client.waitForFinished(10000)) {
        client.kill();
        client.waitForFinished(5000);
    }
}

}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: bench_startup CLIENT [STARTS] [IDLE_SECONDS] [NOTE]\n");
        return 2;
    }
    const QString program = args[1];
    const int starts = args.value(2, u"5"_s).toInt();
    const int idleSeconds = args.value(3, u"15"_s).toInt();
    const QString note = args.size() > 4 ? u", "_s + args[4] : QString();
    // The first seconds load the account and the screens; the idle CPU is what follows.
    const int settleSeconds = std::min(5, idleSeconds / 3);

    QList<double> seconds;
    // One start first that is not counted: it fills the page cache, as any start after the first finds it.
    for (int i = 0; i <= starts; ++i) {
        QProcess client;
        const auto firstFrame = start(client, program);
        if (!firstFrame)
            return 1;
        std::fprintf(stderr, "start %d: first frame after %.3f s%s\n", i, *firstFrame, i == 0 ? " (not counted)" : "");
        if (i > 0)
            seconds << *firstFrame;
        if (i < starts) {
            stop(client);
            continue;
        }

        // The last start stays up: idle, then measured.
        const qint64 pid = client.processId();
        const bool settled = idleFor(client, settleSeconds);
        const qint64 ticksBefore = cpuTicks(pid);
        if (!settled || !idleFor(client, idleSeconds - settleSeconds)) {
            std::fprintf(stderr, "the client ended while idle\n");
            return 1;
        }
        const double idleCpu
            = 100.0 * (cpuTicks(pid) - ticksBefore) / double(sysconf(_SC_CLK_TCK)) / (idleSeconds - settleSeconds);
        const qint64 rss = procStatusKiB("VmRSS", QString::number(pid));
        const qint64 anon = procStatusKiB("RssAnon", QString::number(pid));
        const qint64 pss = pssKiB(pid);
        const QStringList windows = visibleWindows(pid);
        stop(client);

        std::sort(seconds.begin(), seconds.end());
        const QString shown = windows.isEmpty() ? u"none"_s : windows.join(u", "_s);
        if (!seconds.isEmpty())
            std::printf(
                "[figure] start to first frame of the main window: median %.3f s (min %.3f, max %.3f; %d starts "
                "after one uncounted%s) - target under 0.5 s\n",
                seconds[seconds.size() / 2], seconds.first(), seconds.last(), int(seconds.size()), qPrintable(note));
        std::printf(
            "[figure] idle resident memory: %.1f MiB (anonymous %.1f MiB, proportional share %.1f MiB) after %d s "
            "with the detector polling%s; windows shown: %s - target under 80 MB\n",
            rss / 1024.0, anon / 1024.0, pss / 1024.0, idleSeconds, qPrintable(note), qPrintable(shown));
        std::printf("[figure] idle CPU: %.1f%% of a core over %d s, from %d s after the first frame, nobody using the "
                    "windows%s; windows shown: %s - target under 1%%\n",
            idleCpu, idleSeconds - settleSeconds, settleSeconds, qPrintable(note), qPrintable(shown));
    }
    return 0;
}
