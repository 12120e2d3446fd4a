#include "SymbolCatalog.h"

#include <QFile>
#include <QHash>

using namespace Qt::StringLiterals;

namespace {

const QList<std::pair<QString, QString>>& table()
{
    static const QList<std::pair<QString, QString>> entries {
        { u"house"_s, u"house.svg"_s },
        { u"waveform"_s, u"waveform.svg"_s },
        { u"checklist"_s, u"checklist.svg"_s },
        { u"person.circle"_s, u"person-circle.svg"_s },
        { u"gearshape"_s, u"gearshape.svg"_s },
        { u"magnifyingglass"_s, u"magnifyingglass.svg"_s },
        { u"xmark"_s, u"xmark.svg"_s },
        { u"checkmark"_s, u"checkmark.svg"_s },
        { u"sparkles"_s, u"sparkles.svg"_s },
        { u"text.bubble"_s, u"text-bubble.svg"_s },
        { u"arrow.up.circle"_s, u"arrow-up-circle.svg"_s },
        { u"calendar"_s, u"calendar.svg"_s },
        { u"folder"_s, u"folder.svg"_s },
        { u"chevron.left"_s, u"chevron-left.svg"_s },
        { u"plus"_s, u"plus.svg"_s },
        { u"arrow.clockwise"_s, u"arrow-clockwise.svg"_s },
        { u"speaker.wave.2.fill"_s, u"speaker-wave-2-fill.svg"_s },
        { u"speaker.slash"_s, u"speaker-slash.svg"_s },
        { u"checkmark.circle.fill"_s, u"checkmark-circle-fill.svg"_s },
        { u"checkmark.seal"_s, u"checkmark-seal.svg"_s },
        { u"g.circle.fill"_s, u"g-circle-fill.svg"_s },
    };
    return entries;
}

}

QStringList SymbolCatalog::names()
{
    QStringList names;
    for (const auto& [name, file] : table())
        names.append(name);
    return names;
}

QString SymbolCatalog::resourcePath(const QString& symbolName)
{
    for (const auto& [name, file] : table())
        if (name == symbolName)
            return u":/Echoquill/Ui/icons/"_s + file;
    return {};
}

QByteArray SymbolCatalog::svg(const QString& symbolName)
{
    static QHash<QString, QByteArray> cache;
    if (auto it = cache.constFind(symbolName); it != cache.constEnd())
        return *it;
    QByteArray text;
    if (const QString path = resourcePath(symbolName); !path.isEmpty()) {
        QFile file(path);
        if (file.open(QIODevice::ReadOnly))
            text = file.readAll();
    }
    cache.insert(symbolName, text);
    return text;
}
