#pragma once

#include <QFile>
#include <QString>

// One field of /proc/PROCESS/status in kB ("VmRSS", "RssAnon", "VmHWM"), or -1
// when the process or the field is not there.
inline qint64 procStatusKiB(const QByteArray& field, const QString& process = QStringLiteral("self"))
{
    QFile status(QStringLiteral("/proc/%1/status").arg(process));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith(field + ':'))
            return line.mid(field.size() + 1).trimmed().split(' ').value(0).toLongLong();
    return -1;
}
