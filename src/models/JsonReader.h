#pragma once

#include "IsoDate.h"
#include "JsonTree.h"

#include <QByteArray>
#include <QCborMap>
#include <QCborValue>
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
#include <limits>
#include <optional>
#include <type_traits>

// Reads the service's JSON into plain records: keys in camelCase or
// snake_case, required versus optional fields, strict ISO-8601 dates. A record
// opts in with `static T fromJson(const Json::ObjectReader &)`; a body record
// with `QJsonObject toJson() const`.
namespace Json {

// Where in the document a value sits; rendered only when reading fails.
struct Path {
    const Path* parent = nullptr;
    QLatin1StringView key;
    qsizetype index = -1;

    [[nodiscard]] QString render() const;
};

class DecodingError : public std::exception {
public:
    enum Kind { KeyNotFound, ValueNotFound, TypeMismatch, DataCorrupted };

    DecodingError(Kind kind, const Path& path, QString detail);

    [[nodiscard]] Kind kind() const { return m_kind; }
    [[nodiscard]] QString codingPath() const { return m_path; }
    [[nodiscard]] QString detail() const { return m_detail; }
    // The decoder's own description, shown after "Data error: ".
    [[nodiscard]] QString description() const;
    const char* what() const noexcept override { return m_what.constData(); }

private:
    Kind m_kind;
    QString m_path;
    QString m_detail;
    QByteArray m_what;
};

// snake_case → camelCase; a key without an inner underscore is left as it is,
// leading and trailing underscores stay.
QString convertFromSnakeCase(QStringView key);

template <class T> struct Decoder;

template <class T>
concept Record = requires(const class ObjectReader& r)
{
    {
        T::fromJson(r)
        } -> std::same_as<T>;
};

// Where each field was found in the previous row of a list. The rows of one
// list nearly always share their keys, and checking the one key at the
// remembered position costs far less than searching the object for it.
class KeyPositions {
public:
    // The position of the entry for the n-th lookup, if that lookup was for
    // `key` in the previous row and `entries` has that key at the same place; else -1.
    [[nodiscard]] qsizetype recall(qsizetype n, QLatin1StringView key, const QCborMap& entries) const;
    void remember(qsizetype n, QLatin1StringView key, qsizetype position);

private:
    struct Field {
        QByteArray name;
        QCborValue key;
        qsizetype position = -1;
    };
    QVarLengthArray<Field, 16> m_fields;
};

class ObjectReader {
public:
    ObjectReader(const QJsonObject& object, const Path& path)
        : ObjectReader(object, path, nullptr)
    {
    }
    // A row of a list, sharing `positions` with the other rows.
    ObjectReader(const QJsonObject& object, const Path& path, KeyPositions* positions)
        : m_object(&object)
        , m_path(path)
        , m_positions(positions)
        , m_entries(positions ? QCborMap::fromJsonObject(object) : QCborMap())
    {
    }
    // An object of an indexed reply.
    ObjectReader(JsonTree::Value object, const Path& path)
        : m_object(nullptr)
        , m_path(path)
        , m_positions(nullptr)
        , m_tree(object)
    {
    }

    template <class T> [[nodiscard]] T required(QLatin1StringView key) const
    {
        const Path child { &m_path, key };
        return m_tree ? requiredValue<T>(findInTree(key), key, child) : requiredValue<T>(find(key), key, child);
    }

    // Missing or null is absent; present with the wrong type still fails.
    template <class T> [[nodiscard]] std::optional<T> optional(QLatin1StringView key) const
    {
        return m_tree ? optionalValue<T>(findInTree(key), key) : optionalValue<T>(find(key), key);
    }

    [[nodiscard]] bool has(QLatin1StringView key) const
    {
        return m_tree ? findInTree(key).has_value() : find(key).has_value();
    }

private:
    template <class T, class V>
    T requiredValue(const std::optional<V>& v, QLatin1StringView key, const Path& child) const
    {
        if (!v)
            throw DecodingError(
                DecodingError::KeyNotFound, child, QStringLiteral("No value associated with key \"%1\".").arg(key));
        if (v->isNull())
            throw DecodingError(DecodingError::ValueNotFound, child,
                QStringLiteral("Expected a value for key \"%1\" but found null.").arg(key));
        return Decoder<T>::decode(*v, child);
    }

    template <class T, class V> std::optional<T> optionalValue(const std::optional<V>& v, QLatin1StringView key) const
    {
        if (!v || v->isNull())
            return std::nullopt;
        return Decoder<T>::decode(*v, Path { &m_path, key });
    }

    // The entry for the field `key`, read in place.
    std::optional<QJsonValueConstRef> find(QLatin1StringView key) const;
    // The same lookup in an indexed reply.
    std::optional<JsonTree::Value> findInTree(QLatin1StringView key) const;

    const QJsonObject* m_object;
    const Path& m_path;
    KeyPositions* m_positions;
    // The same entries seen through CBOR, which compares a key without building a string.
    QCborMap m_entries;
    mutable qsizetype m_lookups = 0;
    // Positions of the keys that needed conversion, built on the first lookup that misses.
    mutable std::optional<QVarLengthArray<std::pair<QString, qsizetype>, 4>> m_converted;
    std::optional<JsonTree::Value> m_tree;
};

[[noreturn]] void throwTypeMismatch(const Path& path, const char* expected, QJsonValue::Type found);
[[noreturn]] void throwNullElement(const Path& path);

// The two entry points of a built-in decoder: a QJsonValue, or an entry of an
// object or array read in place, which spares a copy and its reference
// counting. Both go to the decoder's `read` template.
template <class T, class Self> struct ReadsInPlace {
    static T decode(const QJsonValue& v, const Path& path) { return Self::read(v, path); }
    static T decode(QJsonValueConstRef v, const Path& path) { return Self::read(v, path); }
    static T decode(JsonTree::Value v, const Path& path) { return Self::read(v, path); }
};

template <> struct Decoder<QString> : ReadsInPlace<QString, Decoder<QString>> {
    template <class V> static QString read(const V& v, const Path& path)
    {
        if (!v.isString())
            throwTypeMismatch(path, "a string", v.type());
        return v.toString();
    }
};

template <> struct Decoder<bool> : ReadsInPlace<bool, Decoder<bool>> {
    template <class V> static bool read(const V& v, const Path& path)
    {
        if (!v.isBool())
            throwTypeMismatch(path, "a boolean", v.type());
        return v.toBool();
    }
};

template <> struct Decoder<double> : ReadsInPlace<double, Decoder<double>> {
    template <class V> static double read(const V& v, const Path& path)
    {
        if (!v.isDouble())
            throwTypeMismatch(path, "a number", v.type());
        return v.toDouble();
    }
};

template <> struct Decoder<qint64> : ReadsInPlace<qint64, Decoder<qint64>> {
    template <class V> static qint64 read(const V& v, const Path& path)
    {
        if (!v.isDouble())
            throwTypeMismatch(path, "an integer", v.type());
        // Qt keeps integral numbers exact; a fraction or an overflow is not an integer.
        constexpr qint64 sentinel = std::numeric_limits<qint64>::min();
        const qint64 exact = v.toInteger(sentinel);
        return exact != sentinel ? exact : fromDouble(v.toDouble(), path);
    }
    static qint64 fromDouble(double d, const Path& path);
};

template <> struct Decoder<int> : ReadsInPlace<int, Decoder<int>> {
    template <class V> static int read(const V& v, const Path& path)
    {
        return narrow(Decoder<qint64>::decode(v, path), path);
    }
    static int narrow(qint64 wide, const Path& path);
};

template <> struct Decoder<QDateTime> : ReadsInPlace<QDateTime, Decoder<QDateTime>> {
    template <class V> static QDateTime read(const V& v, const Path& path)
    {
        if (!v.isString())
            throwTypeMismatch(path, "a date string", v.type());
        if constexpr (std::is_same_v<V, JsonTree::Value>) {
            if (std::optional<QDateTime> date = v.toIsoDate())
                return *date;
        }
        return fromText(v.toString(), path);
    }
    static QDateTime fromText(const QString& text, const Path& path);
};

template <> struct Decoder<QJsonValue> {
    static QJsonValue decode(const QJsonValue& v, const Path&) { return v; }
    static QJsonValue decode(JsonTree::Value v, const Path&) { return v.toJsonValue(); }
};

template <class T> struct Decoder<QList<T>> : ReadsInPlace<QList<T>, Decoder<QList<T>>> {
    template <class V> static QList<T> read(const V& v, const Path& path)
    {
        if (!v.isArray())
            throwTypeMismatch(path, "an array", v.type());
        if constexpr (std::is_same_v<V, JsonTree::Value>) {
            QList<T> out;
            out.reserve(v.elementCount());
            qsizetype index = 0;
            for (JsonTree::Value element = v.firstElement(); !element.isEndOf(v); element = element.nextElement()) {
                const Path child { &path, {}, index++ };
                if (element.isNull())
                    throwNullElement(child);
                out.append(Decoder<T>::decode(element, child));
            }
            return out;
        } else {
            const QJsonArray array = v.toArray();
            QList<T> out;
            out.reserve(array.size());
            KeyPositions positions;
            for (auto it = array.constBegin(); it != array.constEnd(); ++it) {
                const QJsonValueConstRef element = *it;
                const Path child { &path, {}, it - array.constBegin() };
                if (element.isNull())
                    throwNullElement(child);
                if constexpr (requires { Decoder<T>::decode(element, child, &positions); })
                    out.append(Decoder<T>::decode(element, child, &positions));
                else
                    out.append(Decoder<T>::decode(element, child));
            }
            return out;
        }
    }
};

template <Record T> struct Decoder<T> : ReadsInPlace<T, Decoder<T>> {
    using ReadsInPlace<T, Decoder<T>>::decode;
    // The rows of a list share `positions`.
    static T decode(QJsonValueConstRef v, const Path& path, KeyPositions* positions)
    {
        return read(v, path, positions);
    }

    template <class V> static T read(const V& v, const Path& path, KeyPositions* positions = nullptr)
    {
        if (!v.isObject())
            throwTypeMismatch(path, "an object", v.type());
        if constexpr (std::is_same_v<V, JsonTree::Value>) {
            return T::fromJson(ObjectReader(v, path));
        } else {
            const QJsonObject object = v.toObject();
            return T::fromJson(ObjectReader(object, path, positions));
        }
    }
};

// Parses `bytes` and reads the top-level value as T.
QJsonValue parse(const QByteArray& bytes);

template <class T> T decode(const QByteArray& bytes)
{
    // Read in place when the text allows it; QJsonDocument reads the rest and words every syntax error.
    if (const std::optional<JsonTree> tree = JsonTree::index(bytes))
        return Decoder<T>::decode(tree->root(), Path {});
    const QJsonValue root = parse(bytes);
    return Decoder<T>::decode(root, Path {});
}

// Builds a request body; absent optionals are left out, never written as null.
class ObjectWriter {
public:
    ObjectWriter& set(QLatin1StringView key, const QJsonValue& value)
    {
        m_object.insert(key, value);
        return *this;
    }
    ObjectWriter& set(QLatin1StringView key, const QDateTime& date) { return set(key, IsoDate::format(date)); }
    ObjectWriter& set(QLatin1StringView key, const QString& text) { return set(key, QJsonValue(text)); }
    template <class T> ObjectWriter& set(QLatin1StringView key, const std::optional<T>& value)
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
