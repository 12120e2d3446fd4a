#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QJsonValue>
#include <QLatin1StringView>
#include <QString>

#include <optional>
#include <vector>

namespace Json {

// A reply's JSON text indexed in one pass, with its strings and numbers left in
// the text until a record reads them: each string is built once, straight from
// the bytes, where a QJsonDocument copies it in and a reader copies it out again.
// Only text that it reads exactly as QJsonDocument does is indexed; anything else
// (a syntax error, a number in an unusual form, questionable UTF-8, deep nesting)
// is left to QJsonDocument, which gives its own answer or error.
class JsonTree {
public:
    class Value;

    // The indexed text, or nothing; `text` must outlive the tree.
    static std::optional<JsonTree> index(const QByteArray& text);
    [[nodiscard]] Value root() const;

private:
    enum Flag : quint8 { True = 1, Escaped = 2, NonAscii = 4, Integer = 8 };
    struct Node {
        quint32 begin; // first byte: after the quote for a string
        quint32 size; // bytes: a string's content, a number's literal, a whole array or object
        quint32 next; // the node after this one and all it holds
        quint8 type; // a QJsonValue::Type
        quint8 flags;
    };
    class Indexer;

    const char* m_text = nullptr;
    std::vector<Node> m_nodes;
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
    [[nodiscard]] Value nextElement() const { return { m_tree, node().next }; }
    [[nodiscard]] bool isEndOf(const Value& container) const { return m_node == container.node().next; }
    [[nodiscard]] qsizetype elementCount() const;

    // The member of this object named `key` (the last one if the key repeats), as QJsonObject finds it.
    [[nodiscard]] std::optional<Value> member(QLatin1StringView key) const;
    // The first member, in QJsonObject's key order, whose key converts from snake_case to `field`.
    [[nodiscard]] std::optional<Value> memberConvertingTo(QLatin1StringView field) const;

private:
    [[nodiscard]] const Node& node() const { return m_tree->m_nodes[m_node]; }
    [[nodiscard]] QLatin1StringView bytes() const { return { m_tree->m_text + node().begin, qsizetype(node().size) }; }
    [[nodiscard]] bool isPlain() const { return !(node().flags & (Escaped | NonAscii)); }

    const JsonTree* m_tree;
    quint32 m_node;
};

}
