#include "JsonReader.h"

#include <QJsonDocument>
#include <QJsonParseError>

#include <cmath>
#include <unordered_map>
#include <limits>

namespace Json {

QString Path::render() const
{
    QList<const Path *> chain;
    for (const Path *p = this; p; p = p->parent)
        chain.prepend(p);
    QString out;
    for (const Path *p : chain) {
        if (p->index >= 0) {
            out += QLatin1Char('[') + QString::number(p->index) + QLatin1Char(']');
        } else if (!p->key.isEmpty()) {
            if (!out.isEmpty())
                out += QLatin1Char('.');
            out += p->key;
        }
    }
    return out;
}

DecodingError::DecodingError(Kind kind, const Path &path, QString detail)
    : m_kind(kind)
    , m_path(path.render())
    , m_detail(std::move(detail))
    , m_what(description().toUtf8())
{
}

QString DecodingError::description() const
{
    if (m_path.isEmpty())
        return m_detail;
    return m_detail + QStringLiteral(" (at \"") + m_path + QStringLiteral("\")");
}

QString convertFromSnakeCase(QStringView key)
{
    qsizetype first = 0;
    while (first < key.size() && key[first] == u'_')
        ++first;
    if (first == key.size())
        return key.toString();
    qsizetype last = key.size() - 1;
    while (last > first && key[last] == u'_')
        --last;

    const QStringView middle = key.mid(first, last - first + 1);
    const QList<QStringView> words = middle.split(u'_', Qt::SkipEmptyParts);
    if (words.size() == 1)
        return key.toString();

    QString joined = key.left(first).toString();
    joined += words.first().toString().toLower();
    for (qsizetype i = 1; i < words.size(); ++i) {
        const QString w = words[i].toString();
        joined += w.left(1).toUpper() + w.mid(1).toLower();
    }
    joined += key.mid(last + 1);
    return joined;
}

// "createdDateTime" → "created_date_time": the spelling the service uses for a
// camelCase field. Field names are literals, so the answer is cached per literal.
static const QString &snakeSpelling(QLatin1StringView field)
{
    thread_local std::unordered_map<const char *, QString> cache;
    auto it = cache.find(field.data());
    if (it != cache.end())
        return it->second;
    QString snake;
    for (const char c : field) {
        if (c >= 'A' && c <= 'Z') {
            snake += QLatin1Char('_');
            snake += QLatin1Char(char(c - 'A' + 'a'));
        } else {
            snake += QLatin1Char(c);
        }
    }
    return cache.emplace(field.data(), snake).first->second;
}

QJsonValue ObjectReader::find(QLatin1StringView key) const
{
    // A key without inner underscores converts to itself, so a direct hit is the answer.
    const QJsonValue direct = m_object.value(key);
    if (!direct.isUndefined())
        return direct;
    // The usual snake_case spelling converts back to the field name exactly.
    const QString &snake = snakeSpelling(key);
    if (snake.size() != key.size()) {
        const QJsonValue v = m_object.value(snake);
        if (!v.isUndefined())
            return v;
    }
    // Any other spelling that converts to the field name ("CREATED_DATE_TIME", "created__date_time").
    if (!m_converted) {
        m_converted.emplace();
        for (auto it = m_object.constBegin(); it != m_object.constEnd(); ++it) {
            const QString k = it.key();
            if (!k.contains(u'_'))
                continue;
            QString converted = convertFromSnakeCase(k);
            if (converted != k)
                m_converted->append({std::move(converted), it.value()});
        }
    }
    for (const auto &[k, v] : *m_converted) {
        if (k == key)
            return v;
    }
    return QJsonValue(QJsonValue::Undefined);
}

static QString describe(const QJsonValue &v)
{
    switch (v.type()) {
    case QJsonValue::Null: return QStringLiteral("null");
    case QJsonValue::Bool: return QStringLiteral("a boolean");
    case QJsonValue::Double: return QStringLiteral("a number");
    case QJsonValue::String: return QStringLiteral("a string");
    case QJsonValue::Array: return QStringLiteral("an array");
    case QJsonValue::Object: return QStringLiteral("an object");
    case QJsonValue::Undefined: break;
    }
    return QStringLiteral("nothing");
}

void throwTypeMismatch(const Path &path, const char *expected, const QJsonValue &found)
{
    throw DecodingError(DecodingError::TypeMismatch, path,
                        QStringLiteral("Expected %1 but found %2 instead.").arg(QLatin1StringView(expected), describe(found)));
}

qint64 Decoder<qint64>::decode(const QJsonValue &v, const Path &path)
{
    if (!v.isDouble())
        throwTypeMismatch(path, "an integer", v);
    // Qt keeps integral numbers exact; a fraction or an overflow is not an integer.
    const qint64 sentinel = std::numeric_limits<qint64>::min();
    const qint64 exact = v.toInteger(sentinel);
    if (exact != sentinel)
        return exact;
    const double d = v.toDouble();
    if (std::isfinite(d) && std::trunc(d) == d && std::abs(d) < 9.2e18)
        return qint64(d);
    throw DecodingError(DecodingError::DataCorrupted, path,
                        QStringLiteral("Parsed JSON number <%1> does not fit in an integer.").arg(d));
}

int Decoder<int>::decode(const QJsonValue &v, const Path &path)
{
    const qint64 wide = Decoder<qint64>::decode(v, path);
    if (wide < std::numeric_limits<int>::min() || wide > std::numeric_limits<int>::max())
        throw DecodingError(DecodingError::DataCorrupted, path,
                            QStringLiteral("Parsed JSON number <%1> does not fit in an integer.").arg(wide));
    return int(wide);
}

QDateTime Decoder<QDateTime>::decode(const QJsonValue &v, const Path &path)
{
    if (!v.isString())
        throwTypeMismatch(path, "a date string", v);
    const QString text = v.toString();
    if (auto date = IsoDate::parse(text))
        return *date;
    throw DecodingError(DecodingError::DataCorrupted, path, QStringLiteral("Cannot parse date: ") + text);
}

QJsonValue parse(const QByteArray &bytes)
{
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError)
        throw DecodingError(DecodingError::DataCorrupted, Path{},
                            QStringLiteral("The given data was not valid JSON: %1 at offset %2.").arg(error.errorString()).arg(error.offset));
    if (doc.isObject())
        return doc.object();
    if (doc.isArray())
        return doc.array();
    throw DecodingError(DecodingError::DataCorrupted, Path{}, QStringLiteral("The given data was not valid JSON."));
}

}
