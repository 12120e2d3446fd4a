#include "JsonReader.h"

#include <QJsonDocument>
#include <QJsonParseError>

#include <cmath>
#include <limits>

namespace Json {

QString Path::render() const
{
    QList<const Path*> chain;
    for (const Path* p = this; p; p = p->parent)
        chain.prepend(p);
    QString out;
    for (const Path* p : chain) {
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

DecodingError::DecodingError(Kind kind, const Path& path, QString detail)
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
// camelCase field, written into `out` so that looking it up allocates nothing.
static QLatin1StringView snakeSpelling(QLatin1StringView field, QVarLengthArray<char, 64>& out)
{
    for (const char c : field) {
        if (c >= 'A' && c <= 'Z') {
            out.append('_');
            out.append(char(c - 'A' + 'a'));
        } else {
            out.append(c);
        }
    }
    return QLatin1StringView(out.data(), out.size());
}

qsizetype KeyPositions::recall(qsizetype n, QLatin1StringView key, const QCborMap& entries) const
{
    if (n >= m_fields.size())
        return -1;
    const Field& field = m_fields[n];
    if (field.position >= entries.size() || QLatin1StringView(field.name) != key)
        return -1;
    return (entries.constBegin() + field.position).key() == field.key ? field.position : -1;
}

void KeyPositions::remember(qsizetype n, QLatin1StringView key, qsizetype position)
{
    if (n >= m_fields.size())
        m_fields.resize(n + 1);
    Field& field = m_fields[n];
    if (QLatin1StringView(field.name) != key) {
        field.name = QByteArray(key.data(), key.size());
        field.key = QCborValue(key);
    }
    field.position = position;
}

std::optional<QJsonValueConstRef> ObjectReader::find(QLatin1StringView key) const
{
    const QJsonObject& object = *m_object;
    const auto at = [&object](qsizetype i) { return *(object.constBegin() + i); };
    const qsizetype lookup = m_lookups++;
    if (m_positions) {
        if (const qsizetype i = m_positions->recall(lookup, key, m_entries); i >= 0)
            return at(i);
    }
    // A key without inner underscores converts to itself, so a direct hit is the answer.
    if (const auto it = object.constFind(key); it != object.constEnd()) {
        if (m_positions)
            m_positions->remember(lookup, key, it - object.constBegin());
        return *it;
    }
    // The usual snake_case spelling converts back to the field name exactly.
    QVarLengthArray<char, 64> buffer;
    if (const QLatin1StringView snake = snakeSpelling(key, buffer); snake.size() != key.size()) {
        if (const auto it = object.constFind(snake); it != object.constEnd())
            return *it;
    }
    // Any other spelling that converts to the field name ("CREATED_DATE_TIME", "created__date_time").
    if (!m_converted) {
        m_converted.emplace();
        for (auto it = object.constBegin(); it != object.constEnd(); ++it) {
            const QString k = it.key();
            if (!k.contains(u'_'))
                continue;
            QString converted = convertFromSnakeCase(k);
            if (converted != k)
                m_converted->append({ std::move(converted), it - object.constBegin() });
        }
    }
    for (const auto& [k, i] : *m_converted) {
        if (k == key)
            return at(i);
    }
    return std::nullopt;
}

std::optional<JsonTree::Value> ObjectReader::findInTree(QLatin1StringView key) const
{
    if (std::optional<JsonTree::Value> v = m_tree->member(key))
        return v;
    QVarLengthArray<char, 64> buffer;
    if (const QLatin1StringView snake = snakeSpelling(key, buffer); snake.size() != key.size()) {
        if (std::optional<JsonTree::Value> v = m_tree->member(snake))
            return v;
    }
    return m_tree->memberConvertingTo(key);
}

static QString describe(QJsonValue::Type type)
{
    switch (type) {
    case QJsonValue::Null:
        return QStringLiteral("null");
    case QJsonValue::Bool:
        return QStringLiteral("a boolean");
    case QJsonValue::Double:
        return QStringLiteral("a number");
    case QJsonValue::String:
        return QStringLiteral("a string");
    case QJsonValue::Array:
        return QStringLiteral("an array");
    case QJsonValue::Object:
        return QStringLiteral("an object");
    case QJsonValue::Undefined:
        break;
    }
    return QStringLiteral("nothing");
}

void throwTypeMismatch(const Path& path, const char* expected, QJsonValue::Type found)
{
    throw DecodingError(DecodingError::TypeMismatch, path,
        QStringLiteral("Expected %1 but found %2 instead.").arg(QLatin1StringView(expected), describe(found)));
}

void throwNullElement(const Path& path)
{
    throw DecodingError(DecodingError::ValueNotFound, path, QStringLiteral("Expected a value but found null."));
}

qint64 Decoder<qint64>::fromDouble(double d, const Path& path)
{
    if (std::isfinite(d) && std::trunc(d) == d && std::abs(d) < 9.2e18)
        return qint64(d);
    throw DecodingError(DecodingError::DataCorrupted, path,
        QStringLiteral("Parsed JSON number <%1> does not fit in an integer.").arg(d));
}

int Decoder<int>::narrow(qint64 wide, const Path& path)
{
    if (wide < std::numeric_limits<int>::min() || wide > std::numeric_limits<int>::max())
        throw DecodingError(DecodingError::DataCorrupted, path,
            QStringLiteral("Parsed JSON number <%1> does not fit in an integer.").arg(wide));
    return int(wide);
}

QDateTime Decoder<QDateTime>::fromText(const QString& text, const Path& path)
{
    if (auto date = IsoDate::parse(text))
        return *date;
    throw DecodingError(DecodingError::DataCorrupted, path, QStringLiteral("Cannot parse date: ") + text);
}

QJsonValue parse(const QByteArray& bytes)
{
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError)
        throw DecodingError(DecodingError::DataCorrupted, Path {},
            QStringLiteral("The given data was not valid JSON: %1 at offset %2.")
                .arg(error.errorString())
                .arg(error.offset));
    if (doc.isObject())
        return doc.object();
    if (doc.isArray())
        return doc.array();
    throw DecodingError(DecodingError::DataCorrupted, Path {}, QStringLiteral("The given data was not valid JSON."));
}

}
