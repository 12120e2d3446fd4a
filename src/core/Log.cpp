#include "Log.h"

#include <QMutex>
#include <QMutexLocker>

#include <cstdio>
#include <map>

namespace {

QMutex& mutex()
{
    static QMutex m;
    return m;
}

// Lines collected by every live Capture, keyed by its id.
std::map<int, QStringList>& captures()
{
    static std::map<int, QStringList> c;
    return c;
}

int s_nextId = 0;

}

namespace Log {

void line(const QString& text)
{
    const QByteArray bytes = text.toUtf8();
    QMutexLocker lock(&mutex());
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
    for (auto& [id, lines] : captures())
        lines.append(text);
}

Capture::Capture()
{
    QMutexLocker lock(&mutex());
    m_id = s_nextId++;
    captures()[m_id];
}

Capture::~Capture()
{
    QMutexLocker lock(&mutex());
    captures().erase(m_id);
}

QStringList Capture::lines() const
{
    QMutexLocker lock(&mutex());
    return captures()[m_id];
}

bool Capture::contains(const QString& text) const
{
    return lines().contains(text);
}

bool Capture::containsPrefix(const QString& prefix) const
{
    return count(prefix) > 0;
}

int Capture::count(const QString& prefix) const
{
    int n = 0;
    for (const QString& l : lines())
        n += l.startsWith(prefix) ? 1 : 0;
    return n;
}

void Capture::clear()
{
    QMutexLocker lock(&mutex());
    captures()[m_id].clear();
}

}
