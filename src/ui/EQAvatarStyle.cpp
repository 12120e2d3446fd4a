#include "EQAvatarStyle.h"

#include "EQColor.h"

#include <QTextBoundaryFinder>

#include <array>

namespace {

// The first user-perceived character (grapheme) of a word.
QString firstCharacter(const QString& word)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, word);
    const qsizetype end = finder.toNextBoundary();
    return word.left(end > 0 ? end : word.size());
}

}

QString EQAvatarStyle::initialsOf(const QString& name)
{
    const QStringList words = name.split(u' ', Qt::SkipEmptyParts);
    QString initials;
    for (qsizetype i = 0; i < words.size() && i < 2; ++i)
        initials += firstCharacter(words[i]);
    return initials.toUpper();
}

quint32 EQAvatarStyle::nameHash(const QString& name)
{
    quint32 hash = 0;
    for (char32_t scalar : name.toUcs4())
        hash = hash * 31u + quint32(scalar);
    return hash;
}

int EQAvatarStyle::colorPairIndex(const QString& name)
{
    return int(nameHash(name) % 9u);
}

EQAvatarStyle::ColorPair EQAvatarStyle::colorPair(const QString& name)
{
    static const std::array<ColorPair, 9> pairs { {
        { EQColor::fromHex(u"#fadcc4"), EQColor::fromHex(u"#7a4a28") },
        { EQColor::fromHex(u"#f5e2b8"), EQColor::fromHex(u"#7a5a1c") },
        { EQColor::fromHex(u"#ead6c8"), EQColor::fromHex(u"#7a4a3a") },
        { EQColor::fromHex(u"#d8e4cc"), EQColor::fromHex(u"#3a5028") },
        { EQColor::fromHex(u"#f0d4d0"), EQColor::fromHex(u"#7a3a32") },
        { EQColor::fromHex(u"#dcd2e0"), EQColor::fromHex(u"#4a3a58") },
        { EQColor::fromHex(u"#f2e8c8"), EQColor::fromHex(u"#6a5a1c") },
        { EQColor::fromHex(u"#e8c8b8"), EQColor::fromHex(u"#6a3a28") },
        { EQColor::fromHex(u"#cfdcd2"), EQColor::fromHex(u"#2a4a3a") },
    } };
    return pairs[size_t(colorPairIndex(name))];
}
