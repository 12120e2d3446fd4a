#include "JsonTree.h"

#include "IsoDate.h"
#include "JsonReader.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QVarLengthArray>

#include <simdjson.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

namespace Json {

namespace ondemand = simdjson::ondemand;

struct JsonTree::Parser {
    ondemand::parser parser;
    std::vector<Node> nodes;
    // The text with the bytes simdjson reads past its end.
    std::unique_ptr<char[]> text;
    size_t capacity = 0;

    simdjson::padded_string_view pad(const QByteArray& bytes)
    {
        const size_t needed = size_t(bytes.size()) + simdjson::SIMDJSON_PADDING;
        if (capacity < needed) {
            text.reset(new char[needed]);
            capacity = needed;
        }
        std::memcpy(text.get(), bytes.constData(), size_t(bytes.size()));
        std::memset(text.get() + bytes.size(), 0, simdjson::SIMDJSON_PADDING);
        return simdjson::padded_string_view(text.get(), size_t(bytes.size()), capacity);
    }
};

namespace {

// One parser per thread waits for the next reply with its buffers, nodes and
// text, which cost more to build than the parse itself; one sized for a reply
// beyond 8 MiB is not kept.
constexpr size_t keptCapacity = 8 << 20;
thread_local std::unique_ptr<JsonTree::Parser> spareParser;

bool isSpace(char c)
{
    return c == ' ' || c == '\n' || c == '\r' || c == '\t';
}

bool isAscii(std::string_view s)
{
    // Eight bytes at a time: most strings are ASCII through and through.
    const char* p = s.data();
    const char* end = p + s.size();
    quint64 high = 0;
    for (; end - p >= 8; p += 8) {
        quint64 word;
        std::memcpy(&word, p, 8);
        high |= word;
    }
    for (; p < end; ++p)
        high |= uchar(*p);
    return !(high & 0x8080808080808080);
}

}

// Every value of the document, in order: a refusal anywhere refuses the whole
// text, since On-Demand only checks what it is asked to read.
class JsonTree::Indexer {
public:
    explicit Indexer(std::vector<Node>& nodes)
        : m_nodes(nodes)
    {
    }

    bool document(ondemand::document& doc)
    {
        ondemand::json_type type;
        if (doc.type().get(type))
            return false;
        bool read = false;
        if (type == ondemand::json_type::array) {
            ondemand::array array;
            read = !doc.get_array().get(array) && this->array(array, 0);
        } else if (type == ondemand::json_type::object) {
            ondemand::object object;
            read = !doc.get_object().get(object) && this->object(object, 0);
        }
        // Nothing may follow the top-level value.
        const char* after;
        return read && doc.current_location().get(after) == simdjson::OUT_OF_BOUNDS;
    }

private:
    // Far below QJsonDocument's own limit, so that a refusal here is never an answer.
    static constexpr int depthLimit = 256;

    quint32 add(QJsonValue::Type type, quint8 flags = 0)
    {
        Node node {};
        node.type = quint8(type);
        node.flags = flags;
        m_nodes.push_back(node);
        return quint32(m_nodes.size() - 1);
    }

    void close(quint32 n) { m_nodes[n].end = m_nodes.size(); }

    void string(std::string_view s)
    {
        const quint32 n = add(QJsonValue::String, isAscii(s) ? 0 : NonAscii);
        m_nodes[n].text = s.data();
        m_nodes[n].size = quint32(s.size());
    }

    bool value(ondemand::value v, int depth)
    {
        ondemand::json_type type;
        if (v.type().get(type))
            return false;
        switch (type) {
        case ondemand::json_type::array: {
            ondemand::array array;
            return !v.get_array().get(array) && this->array(array, depth + 1);
        }
        case ondemand::json_type::object: {
            ondemand::object object;
            return !v.get_object().get(object) && this->object(object, depth + 1);
        }
        case ondemand::json_type::string: {
            // Without escapes the string is its text, which simdjson has checked
            // for UTF-8 and control characters; it is still stepped over as a
            // string, since a value left unread is skipped without checking
            // what follows it.
            std::string_view s = v.raw_json_token();
            while (s.back() != '"')
                s.remove_suffix(1);
            s = s.substr(1, s.size() - 2);
            simdjson::ondemand::raw_json_string raw;
            if (s.find('\\') != std::string_view::npos ? v.get_string().get(s) : v.get_raw_json_string().get(raw))
                return false;
            string(s);
            return true;
        }
        case ondemand::json_type::number:
            return number(v);
        case ondemand::json_type::boolean: {
            bool b;
            if (v.get_bool().get(b))
                return false;
            add(QJsonValue::Bool, b ? True : 0);
            return true;
        }
        case ondemand::json_type::null: {
            bool null;
            if (v.is_null().get(null) || !null)
                return false;
            add(QJsonValue::Null);
            return true;
        }
        }
        return false;
    }

    bool array(ondemand::array array, int depth)
    {
        if (depth >= depthLimit)
            return false;
        const quint32 n = add(QJsonValue::Array);
        for (auto element : array) {
            ondemand::value v;
            if (element.get(v) || !value(v, depth))
                return false;
        }
        close(n);
        return true;
    }

    // Keys and values alternate, as the nodes of an array would.
    bool object(ondemand::object object, int depth)
    {
        if (depth >= depthLimit)
            return false;
        const quint32 n = add(QJsonValue::Object);
        for (auto member : object) {
            ondemand::field field;
            if (std::move(member).get(field))
                return false;
            const char* raw = field.key().raw();
            std::string_view key(raw, std::strchr(raw, '"') - raw);
            if (key.find('\\') != std::string_view::npos && field.unescaped_key().get(key))
                return false;
            string(key);
            if (!value(field.value(), depth))
                return false;
        }
        close(n);
        return true;
    }

    // QJsonDocument keeps a number written as an integer exactly when it fits
    // in 64 bits and reads any other as a double, refusing one beyond a
    // double's range or so small that it reads as zero.
    bool number(ondemand::value v)
    {
        std::string_view literal = v.raw_json_token();
        while (!literal.empty() && isSpace(literal.back()))
            literal.remove_suffix(1);
        if (literal.find_first_of(".eE") == std::string_view::npos) {
            int64_t integer;
            if (!v.get_int64().get(integer)) {
                m_nodes[add(QJsonValue::Double, Integer)].integer = integer;
                return true;
            }
        }
        double number;
        if (v.get_double().get(number))
            return false;
        double exact;
        if (std::from_chars(literal.data(), literal.data() + literal.size(), exact).ec != std::errc())
            return false;
        m_nodes[add(QJsonValue::Double)].number = number;
        return true;
    }

    std::vector<Node>& m_nodes;
};

std::optional<JsonTree> JsonTree::index(const QByteArray& text)
{
    // A scalar at the top is QJsonDocument's to refuse, as is a byte order mark.
    const auto start = std::find_if_not(text.begin(), text.end(), isSpace);
    if (start == text.end() || (*start != '{' && *start != '['))
        return std::nullopt;

    JsonTree tree;
    std::unique_ptr<Parser> parser = spareParser ? std::move(spareParser) : std::make_unique<Parser>();
    tree.m_parser = std::shared_ptr<Parser>(parser.release(), [](Parser* p) {
        if (!spareParser && p->parser.capacity() <= keptCapacity
            && p->nodes.capacity() * sizeof(Node) <= 2 * keptCapacity && p->capacity <= 2 * keptCapacity)
            spareParser.reset(p);
        else
            delete p;
    });
    std::vector<Node>& nodes = tree.m_parser->nodes;
    nodes.clear();
    // About one value in every dozen bytes of a list of records.
    nodes.reserve(text.size() / 12 + 8);
    ondemand::document doc;
    if (tree.m_parser->parser.iterate(tree.m_parser->pad(text)).get(doc) || !Indexer(nodes).document(doc))
        return std::nullopt;
    tree.m_nodes = nodes.data();
    return tree;
}

JsonTree::Value JsonTree::root() const
{
    return { this, 0 };
}

double JsonTree::Value::toDouble() const
{
    return node().flags & Integer ? double(node().integer) : node().number;
}

qint64 JsonTree::Value::toInteger(qint64 defaultValue) const
{
    if (node().flags & Integer)
        return node().integer;
    // A double that is a whole number within range, as QJsonValue converts it.
    const double d = node().number;
    if (std::isfinite(d) && std::trunc(d) == d && d >= -0x1p63 && d < 0x1p63)
        return qint64(d);
    return defaultValue;
}

QString JsonTree::Value::toString() const
{
    return isPlain() ? QString(bytes()) : QString::fromUtf8(node().text, node().size);
}

std::optional<QDateTime> JsonTree::Value::toIsoDate() const
{
    return isPlain() ? IsoDate::parse(bytes()) : IsoDate::parse(toString());
}

QJsonValue JsonTree::Value::toJsonValue() const
{
    switch (type()) {
    case QJsonValue::Bool:
        return toBool();
    case QJsonValue::Double:
        return node().flags & Integer ? QJsonValue(node().integer) : QJsonValue(node().number);
    case QJsonValue::String:
        return toString();
    case QJsonValue::Array: {
        QJsonArray array;
        for (Value e = firstElement(); !e.isEndOf(*this); e = e.nextElement())
            array.append(e.toJsonValue());
        return array;
    }
    case QJsonValue::Object: {
        // Inserted in order, so that a repeated key keeps its last value.
        QJsonObject object;
        for (Value k = firstElement(); !k.isEndOf(*this);) {
            const Value v = k.nextElement();
            object.insert(k.toString(), v.toJsonValue());
            k = v.nextElement();
        }
        return object;
    }
    default:
        return QJsonValue::Null;
    }
}

qsizetype JsonTree::Value::elementCount() const
{
    qsizetype count = 0;
    for (Value e = firstElement(); !e.isEndOf(*this); e = e.nextElement())
        ++count;
    return count;
}

std::optional<JsonTree::Value> JsonTree::Value::member(QLatin1StringView key) const
{
    // Every member: a repeated key gives its last value, as in QJsonObject.
    std::optional<Value> found;
    for (Value k = firstElement(); !k.isEndOf(*this);) {
        const Value v = k.nextElement();
        if (k.isPlain() ? k.bytes() == key : k.toString() == key)
            found = v;
        k = v.nextElement();
    }
    return found;
}

static char asciiLower(char c)
{
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

static char asciiUpper(char c)
{
    return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c;
}

// convertFromSnakeCase for plain text, into `out`, with no allocation.
static QLatin1StringView convertPlain(QLatin1StringView key, QVarLengthArray<char, 64>& out)
{
    qsizetype first = 0, last = key.size() - 1;
    while (first < key.size() && key[first] == '_')
        ++first;
    while (last > first && key[last] == '_')
        --last;
    out.append(key.data(), first);
    int words = 0;
    for (qsizetype i = first; i <= last && first < key.size(); ++i) {
        if (key[i] == '_')
            continue;
        const bool startsWord = i == first || key[i - 1] == '_';
        words += startsWord;
        const char c = key[i].toLatin1();
        out.append(startsWord && words > 1 ? asciiUpper(c) : asciiLower(c));
    }
    if (words <= 1)
        return key;
    out.append(key.data() + last + 1, key.size() - last - 1);
    return { out.data(), out.size() };
}

std::optional<JsonTree::Value> JsonTree::Value::memberConvertingTo(QLatin1StringView field) const
{
    std::optional<Value> found;
    QString foundKey;
    for (Value k = firstElement(); !k.isEndOf(*this);) {
        const Value v = k.nextElement();
        bool converts;
        if (k.isPlain()) {
            QVarLengthArray<char, 64> buffer;
            const QLatin1StringView key = k.bytes();
            const QLatin1StringView converted = key.contains('_') ? convertPlain(key, buffer) : key;
            converts = converted.data() != key.data() && converted == field;
        } else {
            const QString key = k.toString();
            const QString converted = convertFromSnakeCase(key);
            converts = converted != key && converted == field;
        }
        // QJsonObject keeps its keys sorted and a repeated key's last value.
        if (converts) {
            const QString key = k.toString();
            if (!found || key <= foundKey) {
                found = v;
                foundKey = key;
            }
        }
        k = v.nextElement();
    }
    return found;
}

}
