#include "SoundTools.h"

#include <QProcess>
#include <QRegularExpression>

#include <pulse/context.h>
#include <pulse/introspect.h>
#include <pulse/mainloop.h>

namespace SoundTools {

std::optional<QString> run(const QString& program, const QStringList& arguments)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(20000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return std::nullopt;
    return QString::fromUtf8(process.readAllStandardOutput());
}

std::optional<QString> pactl(const QStringList& arguments, const QString& server)
{
    return run(QStringLiteral("pactl"),
        server.isEmpty() ? arguments : QStringList { QStringLiteral("-s"), server } + arguments);
}

namespace {

// A column (the first: the index) of `pactl list short <what>` rows whose second column is `name` (any when empty).
QStringList shortListIndices(const QString& what, const QString& name, const QString& server, int column = 0)
{
    QStringList out;
    const QStringList rows = pactl({ QStringLiteral("list"), QStringLiteral("short"), what }, server)
                                 .value_or(QString())
                                 .split(u'\n', Qt::SkipEmptyParts);
    for (const QString& row : rows) {
        const QStringList columns = row.split(u'\t');
        if (columns.size() > std::max(1, column) && (name.isEmpty() || columns[1] == name))
            out << columns[column];
    }
    return out;
}

}

QStringList sourceOutputIndices(const QString& server, const QString& source)
{
    const QString index = source.isEmpty() ? QString() : sourceIndex(source, server);
    if (!source.isEmpty() && index.isEmpty())
        return {};
    return shortListIndices(QStringLiteral("source-outputs"), index, server);
}

QString sourceIndex(const QString& name, const QString& server)
{
    return shortListIndices(QStringLiteral("sources"), name, server).value(0);
}

bool isPipeWire(const QString& server)
{
    return pactl({ QStringLiteral("info") }, server).value_or(QString()).contains(QStringLiteral("on PipeWire"));
}

std::pair<int, int> sourceRateAndChannels(const QString& name, const QString& server)
{
    // The sample format column, e.g. "float32le 2ch 48000Hz".
    static const QRegularExpression format(QStringLiteral("(\\d+)ch (\\d+)Hz"));
    const QString row = shortListIndices(QStringLiteral("sources"), name, server, 3).value(0);
    const QRegularExpressionMatch match = format.match(row);
    return { match.captured(2).toInt(), match.captured(1).toInt() };
}

bool killSourceOutput(const QString& index, const QString& server)
{
    pa_mainloop* loop = pa_mainloop_new();
    pa_context* context = pa_context_new(pa_mainloop_get_api(loop), "echoquill-test");
    const QByteArray address = server.toUtf8();
    bool killed = false;
    if (pa_context_connect(context, server.isEmpty() ? nullptr : address.constData(), PA_CONTEXT_NOAUTOSPAWN, nullptr)
        >= 0) {
        while (pa_context_get_state(context) != PA_CONTEXT_READY && PA_CONTEXT_IS_GOOD(pa_context_get_state(context)))
            pa_mainloop_iterate(loop, 1, nullptr);
        auto done = [](pa_context*, int success, void* result) { *static_cast<bool*>(result) = success; };
        if (pa_operation* operation = pa_context_kill_source_output(context, index.toUInt(), done, &killed)) {
            while (pa_operation_get_state(operation) == PA_OPERATION_RUNNING)
                pa_mainloop_iterate(loop, 1, nullptr);
            pa_operation_unref(operation);
        }
    }
    pa_context_disconnect(context);
    pa_context_unref(context);
    pa_mainloop_free(loop);
    return killed;
}
}
