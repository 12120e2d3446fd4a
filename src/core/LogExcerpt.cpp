#include "LogExcerpt.h"

#include <QStringDecoder>
#include <QUrl>

#include <algorithm>

namespace {

const QString redactedValue = QStringLiteral("\"<redacted>\"");

// Index just past the JSON string that opens at `from`; -1 when it does not close before `end`.
qsizetype stringEnd(QStringView text, qsizetype from, qsizetype end)
{
    for (qsizetype i = from + 1; i < end; ++i) {
        if (text[i] == u'\\')
            ++i;
        else if (text[i] == u'"')
            return i + 1;
    }
    return -1;
}

// A JSON string's contents with its escapes resolved, enough to name a key written as "t\u006fken".
QString unescaped(QStringView raw)
{
    QString out;
    for (qsizetype i = 0; i < raw.size(); ++i) {
        if (raw[i] != u'\\' || i + 1 == raw.size()) {
            out += raw[i];
            continue;
        }
        const QChar c = raw[++i];
        bool hex = false;
        const QStringView digits = raw.mid(i + 1, 4);
        const ushort code = c == u'u' && digits.size() == 4 ? digits.toUShort(&hex, 16) : 0;
        if (hex) {
            out += QChar(char16_t(code));
            i += 4;
            continue;
        }
        static const QString escapes = QStringLiteral("b\bf\fn\nr\rt\t");
        const qsizetype at = escapes.indexOf(c);
        out += at >= 0 && at % 2 == 0 ? escapes[at + 1] : c;
    }
    return out;
}

// Index just past the JSON value that starts at `from`: a string, an object or list with all it holds,
// or a bare word; whatever is left when the text ends first.
qsizetype valueEnd(QStringView text, qsizetype from)
{
    const qsizetype end = text.size();
    if (from >= end)
        return from;
    if (text[from] == u'"') {
        const qsizetype e = stringEnd(text, from, end);
        return e < 0 ? end : e;
    }
    if (text[from] == u'{' || text[from] == u'[') {
        qsizetype depth = 0;
        for (qsizetype i = from; i < end; ++i) {
            const QChar c = text[i];
            if (c == u'"') {
                const qsizetype e = stringEnd(text, i, end);
                if (e < 0)
                    return end;
                i = e - 1;
            } else if (c == u'{' || c == u'[') {
                ++depth;
            } else if ((c == u'}' || c == u']') && --depth == 0) {
                return i + 1;
            }
        }
        return end;
    }
    qsizetype i = from;
    while (i < end && !QStringView(u",}]\"").contains(text[i]) && !text[i].isSpace())
        ++i;
    return i;
}

// The redacted text, produced only until it holds `units` UTF-16 units. Every quote may open a key, so a
// quote the text left unbalanced cannot hide a `"…token": "value"` pair behind it. A key longer than
// `units` would push its value out of what is produced anyway, which bounds the work to `units` per quote.
QString redactedPrefix(QStringView text, qsizetype units)
{
    QString out;
    qsizetype i = 0;
    const auto spaceEnd = [&](qsizetype from) {
        while (from < text.size() && from - i < units && text[from].isSpace())
            ++from;
        return from;
    };
    while (i < text.size() && out.size() < units) {
        if (text[i] == u'"') {
            const qsizetype keyEnd = stringEnd(text, i, std::min(text.size(), i + units));
            const qsizetype colon = keyEnd < 0 ? -1 : spaceEnd(keyEnd);
            if (colon >= 0 && colon < text.size() && text[colon] == u':'
                && Log::isSecretKey(unescaped(text.mid(i + 1, keyEnd - i - 2)))) {
                const qsizetype value = spaceEnd(colon + 1);
                out += text.mid(i, value - i);
                const qsizetype after = valueEnd(text, value);
                if (after > value)
                    out += redactedValue;
                i = after;
                continue;
            }
        }
        out += text[i++];
    }
    return out;
}

// The first `limit` characters, never cutting a surrogate pair in half.
QString firstCharacters(const QString& text, int limit)
{
    qsizetype units = 0;
    for (int count = 0; units < text.size() && count < limit; ++count)
        units += (text[units].isHighSurrogate() && units + 1 < text.size()) ? 2 : 1;
    return text.left(units);
}

// Control characters and line or paragraph separators as escapes, the backslash left as it is.
QString escapedControls(const QString& text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        const QChar::Category category = c.category();
        if (category != QChar::Other_Control && category != QChar::Separator_Line
            && category != QChar::Separator_Paragraph) {
            out += c;
            continue;
        }
        static const QString named = QStringLiteral("\nn\rr\tt");
        const qsizetype at = named.indexOf(c);
        out += at >= 0 && at % 2 == 0 ? QStringLiteral("\\") + named[at + 1]
                                      : QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
    }
    return out;
}

}

namespace Log {

bool isSecretKey(QStringView key)
{
    return key.endsWith(u"token", Qt::CaseInsensitive) || key.compare(u"authorization", Qt::CaseInsensitive) == 0
        || key.compare(u"otpCode", Qt::CaseInsensitive) == 0;
}

QString excerpt(const QByteArray& body, int limit)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder(body);
    if (decoder.hasError())
        return QStringLiteral("<binary %1B>").arg(body.size());
    // A character takes at most two units; a little more so a pair at the edge is whole.
    return firstCharacters(escapedControls(redactedPrefix(text, 2 * qsizetype(std::max(limit, 0)) + 8)), limit);
}

QString lastSegment(const QString& url)
{
    QString path = QUrl(url).path();
    while (path.endsWith(u'/'))
        path.chop(1);
    return path.mid(path.lastIndexOf(u'/') + 1);
}

}
