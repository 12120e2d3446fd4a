#pragma once

#include "IsoDate.h"

#include <QByteArray>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QLatin1StringView>
#include <QList>
#include <QString>
#include <QVarLengthArray>

#include <concepts>
#include <exception>
#include <optional>

// Reads the service's JSON into plain records: keys in camelCase or
// snake_case, required versus optional fields, strict ISO-8601 dates. A record
// opts in with `static T fromJson(const Json::ObjectReader &)`; a body record
// with `QJsonObject toJson() const`.
namespace Json {

// Where in the document a value sits; rendered only when reading fails.
struct Path {
    const Path *parent = nullptr;
    QLatin1StringView key;
    qsizetype index = -1;

    [[nodiscard]] QString render() const;
};

class DecodingError : public std::exception {
public:
    enum Kind { KeyNotFound, ValueNotFound, TypeMismatch, DataCorrupted };

    DecodingError(Kind kind, const Path &path, QString detail);

    [[nodiscard]] Kind kind() const { return m_kind; }
    [[nodiscard]] QString codingPath() const { return m_path; }
    [[nodiscard]] QString detail() const { return m_detail; }
    // The decoder's own description, shown after "Data error: ".
    [[nodiscard]] QString description() const;
    const char *what() const noexcept override { return m_what.constData(); }

private:
    Kind m_kind;
    QString m_path;
    QString m_detail;
    QByteArray m_what;
};

// snake_case → camelCase; a key without an inner underscore is left as it is,
// leading and trailing underscores stay.
QString convertFromSnakeCase(QStringView key);

template<class T>
struct Decoder;

template<class T>
concept Record = requires(const class ObjectReader &r) {
    { T::fromJson(r) } -> std::same_as<T>;
};

class ObjectReader {
public:
    ObjectReader(const QJsonObject &object, const Path &path) : m_object(object), m_path(path) { }

    template<class T>
    [[nodiscard]] T required(QLatin1StringView key) const
    {
        const Path child{&m_path, key};
        const QJsonValue v = find(key);
        if (v.isUndefined())
            throw DecodingError(DecodingError::KeyNotFound, child, QStringLiteral("No value associated with key \"%1\".").arg(key));
        if (v.isNull())
            throw DecodingError(DecodingError::ValueNotFound, child, QStringLiteral("Expected a value for key \"%1\" but found null.").arg(key));
        return Decoder<T>::decode(v, child);
    }

    // Missing or null is absent; present with the wrong type still fails.
    template<class T>
    [[nodiscard]] std::optional<T> optional(QLatin1StringView key) const
    {
        const QJsonValue v = find(key);
        if (v.isUndefined() || v.isNull())
            return std::nullopt;
        return Decoder<T>::decode(v, Path{&m_path, key});
    }

    [[nodiscard]] bool has(QLatin1StringView key) const { return !find(key).isUndefined(); }

private:
    QJsonValue find(QLatin1StringView key) const;

    const QJsonObject &m_object;
    const Path &m_path;
    // Keys that needed conversion, built on the first lookup that misses.
    mutable std::optional<QVarLengthArray<std::pair<QString, QJsonValue>, 4>> m_converted;
};

[[noreturn]] void throwTypeMismatch(const Path &path, const char *expected, const QJsonValue &found);

template<>
struct Decoder<QString> {
    static QString decode(const QJsonValue &v, const Path &path)
    {
        if (!v.isString())
            throwTypeMismatch(path, "a string", v);
        return v.toString();
    }
};

template<>
struct Decoder<bool> {
    static bool decode(const QJsonValue &v, const Path &path)
    {
        if (!v.isBool())
            throwTypeMismatch(path, "a boolean", v);
        return v.toBool();
    }
};

template<>
struct Decoder<double> {
    static double decode(const QJsonValue &v, const Path &path)
    {
        if (!v.isDouble())
            throwTypeMismatch(path, "a number", v);
        return v.toDouble();
    }
};

template<>
struct Decoder<qint64> {
    static qint64 decode(const QJsonValue &v, const Path &path);
};

template<>
struct Decoder<int> {
    static int decode(const QJsonValue &v, const Path &path);
};

template<>
struct Decoder<QDateTime> {
    static QDateTime decode(const QJsonValue &v, const Path &path);
};

template<>
struct Decoder<QJsonValue> {
    static QJsonValue decode(const QJsonValue &v, const Path &) { return v; }
};

template<class T>
struct Decoder<QList<T>> {
    static QList<T> decode(const QJsonValue &v, const Path &path)
    {
        if (!v.isArray())
            throwTypeMismatch(path, "an array", v);
        const QJsonArray array = v.toArray();
        QList<T> out;
        out.reserve(array.size());
        qsizetype i = 0;
        for (const QJsonValue &element : array) {
            const Path child{&path, {}, i++};
            if (element.isNull())
                throw DecodingError(DecodingError::ValueNotFound, child, QStringLiteral("Expected a value but found null."));
            out.append(Decoder<T>::decode(element, child));
        }
        return out;
    }
};

template<Record T>
struct Decoder<T> {
    static T decode(const QJsonValue &v, const Path &path)
    {
        if (!v.isObject())
            throwTypeMismatch(path, "an object", v);
        const QJsonObject object = v.toObject();
        return T::fromJson(ObjectReader(object, path));
    }
};

// Parses `bytes` and reads the top-level value as T.
QJsonValue parse(const QByteArray &bytes);

template<class T>
T decode(const QByteArray &bytes)
{
    const QJsonValue root = parse(bytes);
    return Decoder<T>::decode(root, Path{});
}

// Builds a request body; absent optionals are left out, never written as null.
class ObjectWriter {
public:
    ObjectWriter &set(QLatin1StringView key, const QJsonValue &value)
    {
        m_object.insert(key, value);
        return *this;
    }
    ObjectWriter &set(QLatin1StringView key, const QDateTime &date) { return set(key, IsoDate::format(date)); }
    ObjectWriter &set(QLatin1StringView key, const QString &text) { return set(key, QJsonValue(text)); }
    template<class T>
    ObjectWriter &set(QLatin1StringView key, const std::optional<T> &value)
    {
        if (value)
            set(key, *value);
        return *this;
    }
    [[nodiscard]] QJsonObject object() const { return m_object; }

private:
    QJsonObject m_object;
};

}
