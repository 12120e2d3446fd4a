#pragma once

#include <QString>
#include <QStringList>

#include <optional>
#include <ostream>

// Readable Qt values in test failure messages.
inline void PrintTo(const QString& s, std::ostream* os)
{
    *os << '"' << s.toStdString() << '"';
}

inline void PrintTo(const QStringList& list, std::ostream* os)
{
    *os << '[';
    for (qsizetype i = 0; i < list.size(); ++i)
        *os << (i ? ", \"" : "\"") << list[i].toStdString() << '"';
    *os << ']';
}

namespace std {
inline void PrintTo(const std::optional<QString>& s, std::ostream* os)
{
    if (s)
        ::PrintTo(*s, os);
    else
        *os << "absent";
}
}
