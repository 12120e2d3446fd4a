#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QJsonValue>
#include <QLatin1StringView>
#include <QString>

#include <memory>
#include <optional>

namespace Json {

// A reply's JSON text walked once with simdjson's On-Demand parser into a flat
// list of values: a string stays in the text (simdjson unescapes one with
// escapes into its own buffer) and becomes a QString only when a record reads
// it, where a QJsonDocument copies it in and a reader copies it out again.
// Only text that simdjson reads exactly as QJsonDocument does is indexed; it
// refuses the rest (a syntax error, a byte order mark, a raw control character,
// invalid UTF-8 or a lone surrogate escape), and so does the walk for a number
// beyond a double's range and for deep nesting. QJsonDocument reads what is
// refused and gives its own answer or error.
class JsonTree {
public:
    class Value;
    // simdjson's parser with the text and the values read from it.
    struct Parser;

    // The indexed text, or nothing; the tree keeps what its values point into.
    static std::optional<JsonTree> index(const QByteArray& text);
    [[nodiscard]] Value root() const;

private:
    enum Flag : quint8 { True = 1, NonAscii = 2, Integer = 4 };
    struct Node {
        union {
            const char* text; // a string's UTF-8, in the text when it has no escapes
            qint64 integer; // a number written as an integer that fits in 64 bits
            double number; // any other number
            quint64 end; // an array or object: the node after it and all it holds
        };
        quint32 size; // a string's bytes
        quint8 type; // a QJsonValue::Type
        quint8 flags;
    };
    class Indexer;

    // Holds the nodes and the text too; lent back for the next reply when the tree goes.
    std::shared_ptr<Parser> m_parser;
    const Node* m_nodes = nullptr;
};

// One value of the tree, read with the calls a QJsonValue answers.
class JsonTree::Value {
public:
    Value(const JsonTree* tree, quint32 node)
        : m_tree(tree)
        , m_node(node)
    {
    }

    [[nodiscard]] QJsonValue::Type type() const { return QJsonValue::Type(node().type); }
    [[nodiscard]] bool isNull() const { return type() == QJsonValue::Null; }
    [[nodiscard]] bool isBool() const { return type() == QJsonValue::Bool; }
    [[nodiscard]] bool isDouble() const { return type() == QJsonValue::Double; }
    [[nodiscard]] bool isString() const { return type() == QJsonValue::String; }
    [[nodiscard]] bool isArray() const { return type() == QJsonValue::Array; }
    [[nodiscard]] bool isObject() const { return type() == QJsonValue::Object; }

    [[nodiscard]] bool toBool() const { return node().flags & True; }
    [[nodiscard]] double toDouble() const;
    [[nodiscard]] qint64 toInteger(qint64 defaultValue) const;
    [[nodiscard]] QString toString() const;
    // A string in the strict date form, read without building the string when it is plain.
    [[nodiscard]] std::optional<QDateTime> toIsoDate() const;
    // The value as QJsonDocument would have read it.
    [[nodiscard]] QJsonValue toJsonValue() const;

    // Array elements: the first, then each one's next, up to the end (an invalid value).
    [[nodiscard]] Value firstElement() const { return { m_tree, m_node + 1 }; }
    [[nodiscard]] Value nextElement() const
    {
        return { m_tree, isArray() || isObject() ? quint32(node().end) : m_node + 1 };
    }
    [[nodiscard]] bool isEndOf(const Value& container) const { return m_node == container.node().end; }
    [[nodiscard]] qsizetype elementCount() const;

    // The member of this object named `key` (the last one if the key repeats), as QJsonObject finds it.
    [[nodiscard]] std::optional<Value> member(QLatin1StringView key) const;
    // The first member, in QJsonObject's key order, whose key converts from snake_case to `field`.
    [[nodiscard]] std::optional<Value> memberConvertingTo(QLatin1StringView field) const;

private:
    [[nodiscard]] const Node& node() const { return m_tree->m_nodes[m_node]; }
    [[nodiscard]] QLatin1StringView bytes() const { return { node().text, qsizetype(node().size) }; }
    [[nodiscard]] bool isPlain() const { return !(node().flags & NonAscii); }

    const JsonTree* m_tree;
    quint32 m_node;
};

}
