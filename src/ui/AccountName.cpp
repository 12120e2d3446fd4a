#include "AccountName.h"

#include <QStringList>

namespace {

// Runs of blanks count as one separator, so no piece is empty.
QStringList pieces(const QString& name)
{
    return name.split(u' ', Qt::SkipEmptyParts);
}

}

QString AccountName::firstNameOf(const QString& name)
{
    const QStringList parts = pieces(name);
    return parts.isEmpty() ? QString() : parts.first();
}

QString AccountName::lastNameOf(const QString& name)
{
    const QStringList parts = pieces(name);
    return parts.size() < 2 ? QString() : parts.mid(1).join(u' ');
}
