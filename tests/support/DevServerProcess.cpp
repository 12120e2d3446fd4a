#include "DevServerProcess.h"

#include <gtest/gtest.h>

#include <QDeadlineTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>

#include <sys/prctl.h>

#include <algorithm>
#include <csignal>

using namespace Qt::StringLiterals;

DevServerProcess::DevServerProcess(QStringList arguments)
{
    if (!arguments.contains(u"--data"_s) && !arguments.contains(u"--ephemeral"_s))
        arguments.prepend(u"--ephemeral"_s);
    m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    // A test that dies takes its service with it instead of leaving it holding the output pipes.
    m_process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    m_process.start(
        QStringLiteral(ECHOQUILL_DEVSERVER_BIN), QStringList { u"--port"_s, u"0"_s, u"--dev-controls"_s } + arguments);
    if (!m_process.waitForStarted(10000)) {
        ADD_FAILURE() << "echoquill-devserver did not start: " << m_process.errorString().toStdString();
        return;
    }
    static const QRegularExpression listening(u"^\\[devserver\\] listening on http://127\\.0\\.0\\.1:(\\d+)$"_s);
    QDeadlineTimer deadline(20000);
    while (m_port < 0 && !deadline.hasExpired() && m_process.state() == QProcess::Running) {
        m_process.waitForReadyRead(100);
        readOutput();
        for (const auto& line : std::as_const(m_lines))
            if (const auto match = listening.match(line); match.hasMatch())
                m_port = match.captured(1).toInt();
    }
    if (m_port < 0)
        ADD_FAILURE() << "echoquill-devserver printed no listening line: " << m_lines.join(u'\n').toStdString();
}

DevServerProcess::~DevServerProcess()
{
    if (m_process.state() != QProcess::NotRunning) {
        EXPECT_TRUE(stop()) << "echoquill-devserver did not exit cleanly";
    }
}

QUrl DevServerProcess::origin() const
{
    return QUrl(u"http://127.0.0.1:%1"_s.arg(m_port));
}

QUrl DevServerProcess::url(const QString& path) const
{
    return QUrl(origin().toString() + path);
}

httplib::Client DevServerProcess::client() const
{
    httplib::Client client("127.0.0.1", m_port);
    client.set_read_timeout(30);
    client.set_write_timeout(30);
    return client;
}

void DevServerProcess::readOutput()
{
    m_pending += m_process.readAllStandardOutput();
    qsizetype newline;
    while ((newline = m_pending.indexOf('\n')) >= 0) {
        m_lines << QString::fromUtf8(m_pending.left(newline));
        m_pending.remove(0, newline + 1);
    }
}

QStringList DevServerProcess::lines()
{
    m_process.waitForReadyRead(0);
    readOutput();
    return m_lines;
}

QJsonValue DevServerProcess::control(
    const std::string& method, const std::string& path, const QJsonObject& body, int* status)
{
    auto cli = client();
    const std::string json = QJsonDocument(body).toJson(QJsonDocument::Compact).toStdString();
    httplib::Result result = method == "GET" ? cli.Get(path)
        : method == "DELETE"                 ? cli.Delete(path)
                                             : cli.Post(path, json, "application/json");
    if (status)
        *status = result ? result->status : 0;
    EXPECT_TRUE(result) << method << " " << path << " got no reply";
    return jsonOf(result);
}

QJsonArray DevServerProcess::requests(const QString& path)
{
    return control("GET", "/__dev/requests?path=" + path.toStdString()).toArray();
}

int DevServerProcess::requestCount(const QString& method, const std::string& path, qint64 bodyBytes)
{
    const QJsonArray all = requests(QString::fromStdString(path));
    return int(std::count_if(all.begin(), all.end(), [&](const QJsonValue& r) {
        return r[u"method"_s] == method && (bodyBytes < 0 || r[u"bodyBytes"_s].toInteger() == bodyBytes);
    }));
}

QString DevServerProcess::signIn(const QString& email)
{
    return control("POST", "/__dev/token", { { u"email"_s, email } })[u"token"_s].toString();
}

void DevServerProcess::reset()
{
    int status = 0;
    control("POST", "/__dev/reset", {}, &status);
    EXPECT_EQ(status, 200);
}

bool DevServerProcess::stop()
{
    m_process.terminate();
    const bool finished = m_process.waitForFinished(20000);
    readOutput();
    if (!finished)
        m_process.kill();
    m_process.waitForFinished(5000);
    return finished && m_process.exitStatus() == QProcess::NormalExit && m_process.exitCode() == 0;
}

void DevServerProcess::kill()
{
    m_process.kill();
    m_process.waitForFinished(5000);
    readOutput();
}

QJsonValue jsonOf(const httplib::Result& result)
{
    if (!result)
        return {};
    const QJsonDocument document = QJsonDocument::fromJson(QByteArray::fromStdString(result->body));
    if (document.isObject())
        return document.object();
    if (document.isArray())
        return document.array();
    return {};
}
