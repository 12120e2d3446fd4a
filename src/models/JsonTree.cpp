#include "JsonTree.h"

#include "IsoDate.h"
#include "JsonReader.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QVarLengthArray>

#include <cctype>
#include <charconv>
#include <cstring>
#include <limits>

namespace Json {

// Strict RFC 8259 JSON, a subset of what QJsonDocument reads and read the same:
// whatever falls outside it is refused, never read differently.
class JsonTree::Indexer {
public:
    Indexer(const QByteArray& text, std::vector<Node>& nodes)
        : m_base(text.constData())
        , m_p(m_base)
        , m_end(m_base + text.size())
        , m_nodes(nodes)
    {
    }

    bool document()
    {
        skipSpace();
        if (m_p == m_end || (*m_p != '{' && *m_p != '['))
            return false;
        if (!container(0))
            return false;
        skipSpace();
        return m_p == m_end;
    }

private:
    // Far below QJsonDocument's own limit, so that a refusal here is never an answer.
    static constexpr int depthLimit = 256;

    void skipSpace()
    {
        while (m_p < m_end && (*m_p == ' ' || *m_p == '\n' || *m_p == '\r' || *m_p == '\t'))
            ++m_p;
    }

    quint32 add(QJsonValue::Type type, const char* begin, quint8 flags = 0)
    {
        m_nodes.push_back({ quint32(begin - m_base), 0, 0, quint8(type), flags });
        return quint32(m_nodes.size() - 1);
    }

    void close(quint32 n, const char* end)
    {
        Node& node = m_nodes[n];
        node.size = quint32(end - m_base) - node.begin;
        node.next = quint32(m_nodes.size());
    }

    bool value(int depth)
    {
        switch (*m_p) {
        case '{':
        case '[':
            return container(depth);
        case '"':
            return string();
        case 't':
            return literal(QLatin1StringView("true"), QJsonValue::Bool, True);
        case 'f':
            return literal(QLatin1StringView("false"), QJsonValue::Bool, 0);
        case 'n':
            return literal(QLatin1StringView("null"), QJsonValue::Null, 0);
        default:
            return number();
        }
    }

    bool literal(QLatin1StringView word, QJsonValue::Type type, quint8 flags)
    {
        if (m_end - m_p < word.size() || std::memcmp(m_p, word.data(), word.size()) != 0)
            return false;
        const quint32 n = add(type, m_p, flags);
        m_p += word.size();
        close(n, m_p);
        return true;
    }

    bool container(int depth)
    {
        if (depth >= depthLimit)
            return false;
        const bool object = *m_p == '{';
        const char end = object ? '}' : ']';
        const quint32 n = add(object ? QJsonValue::Object : QJsonValue::Array, m_p);
        ++m_p;
        skipSpace();
        if (m_p < m_end && *m_p == end) {
            close(n, ++m_p);
            return true;
        }
        for (;;) {
            if (m_p == m_end)
                return false;
            if (object) {
                if (*m_p != '"' || !string())
                    return false;
                skipSpace();
                if (m_p == m_end || *m_p != ':')
                    return false;
                ++m_p;
                skipSpace();
                if (m_p == m_end)
                    return false;
            }
            if (!value(depth + 1))
                return false;
            skipSpace();
            if (m_p == m_end)
                return false;
            if (*m_p == end)
                break;
            if (*m_p != ',')
                return false;
            ++m_p;
            skipSpace();
        }
        close(n, ++m_p);
        return true;
    }

    static bool isDigit(char c) { return c >= '0' && c <= '9'; }

    bool digits()
    {
        const char* start = m_p;
        while (m_p < m_end && isDigit(*m_p))
            ++m_p;
        return m_p > start;
    }

    bool number()
    {
        const char* start = m_p;
        if (*m_p == '-')
            ++m_p;
        if (m_p == m_end || !isDigit(*m_p))
            return false;
        if (*m_p == '0')
            ++m_p;
        else
            digits();
        // Eighteen digits always fit in 64 bits; longer ones are left to QJsonDocument's reading.
        bool integer = m_p - start <= 18;
        if (m_p < m_end && *m_p == '.') {
            integer = false;
            ++m_p;
            if (!digits())
                return false;
        }
        if (m_p < m_end && (*m_p == 'e' || *m_p == 'E')) {
            integer = false;
            ++m_p;
            if (m_p < m_end && (*m_p == '+' || *m_p == '-'))
                ++m_p;
            if (!digits())
                return false;
        }
        // QJsonDocument refuses a number beyond a double's range; one this near its ends is left to it.
        double value;
        if (!integer && std::from_chars(start, m_p, value).ec != std::errc())
            return false;
        close(add(QJsonValue::Double, start, integer ? Integer : 0), m_p);
        return true;
    }

    bool string()
    {
        const quint32 n = add(QJsonValue::String, ++m_p);
        quint8 flags = 0;
        for (;;) {
            while (m_p < m_end && uchar(*m_p) >= 0x20 && uchar(*m_p) < 0x80 && *m_p != '"' && *m_p != '\\')
                ++m_p;
            if (m_p == m_end)
                return false;
            if (*m_p == '"')
                break;
            if (*m_p == '\\') {
                flags |= Escaped;
                if (!escape())
                    return false;
            } else {
                // A control character, which QJsonDocument lets through unescaped, or a multi-byte character.
                flags |= NonAscii;
                if (uchar(*m_p) < 0x80 || !utf8())
                    return false;
            }
        }
        close(n, m_p++);
        m_nodes[n].flags = flags;
        return true;
    }

    bool escape()
    {
        if (m_end - m_p < 2)
            return false;
        const char e = m_p[1];
        if (std::strchr("\"\\/bfnrt", e) && e) {
            m_p += 2;
            return true;
        }
        if (e != 'u' || m_end - m_p < 6)
            return false;
        for (int i = 2; i < 6; ++i) {
            if (!std::isxdigit(uchar(m_p[i])))
                return false;
        }
        m_p += 6;
        return true;
    }

    // One well-formed UTF-8 character that is not a noncharacter.
    bool utf8()
    {
        const auto* s = reinterpret_cast<const uchar*>(m_p);
        const uchar lead = s[0];
        int length;
        char32_t code;
        uchar low = 0x80, high = 0xbf;
        if (lead >= 0xc2 && lead <= 0xdf) {
            length = 2;
            code = lead & 0x1f;
        } else if (lead >= 0xe0 && lead <= 0xef) {
            length = 3;
            code = lead & 0x0f;
            low = lead == 0xe0 ? 0xa0 : low; // overlong
            high = lead == 0xed ? 0x9f : high; // surrogates
        } else if (lead >= 0xf0 && lead <= 0xf4) {
            length = 4;
            code = lead & 0x07;
            low = lead == 0xf0 ? 0x90 : low; // overlong
            high = lead == 0xf4 ? 0x8f : high; // beyond U+10FFFF
        } else {
            return false;
        }
        if (m_end - m_p < length)
            return false;
        for (int i = 1; i < length; ++i) {
            if (s[i] < (i == 1 ? low : 0x80) || s[i] > (i == 1 ? high : 0xbf))
                return false;
            code = (code << 6) | (s[i] & 0x3f);
        }
        if ((code >= 0xfdd0 && code <= 0xfdef) || (code & 0xfffe) == 0xfffe)
            return false;
        m_p += length;
        return true;
    }

    const char* m_base;
    const char* m_p;
    const char* m_end;
    std::vector<Node>& m_nodes;
};

std::optional<JsonTree> JsonTree::index(const QByteArray& text)
{
    if (quint64(text.size()) >= std::numeric_limits<quint32>::max())
        return std::nullopt;
    JsonTree tree;
    tree.m_text = text.constData();
    // About one value in every dozen bytes of a list of records.
    tree.m_nodes.reserve(text.size() / 12 + 8);
    if (!Indexer(text, tree.m_nodes).document())
        return std::nullopt;
    return tree;
}

JsonTree::Value JsonTree::root() const
{
    return { this, 0 };
}

// A number in any form but the plain integer, as QJsonDocument reads it.
static QJsonValue numberAsQtReadsIt(QLatin1StringView literal)
{
    return QJsonDocument::fromJson('[' + QByteArray(literal.data(), literal.size()) + ']').array().at(0);
}

double JsonTree::Value::toDouble() const
{
    if (node().flags & Integer)
        return double(toInteger(0));
    return numberAsQtReadsIt(bytes()).toDouble();
}

qint64 JsonTree::Value::toInteger(qint64 defaultValue) const
{
    if (!(node().flags & Integer))
        return numberAsQtReadsIt(bytes()).toInteger(defaultValue);
    const QLatin1StringView text = bytes();
    const bool negative = text.front() == '-';
    qint64 n = 0;
    for (qsizetype i = negative; i < text.size(); ++i)
        n = n * 10 + (text[i].toLatin1() - '0');
    return negative ? -n : n;
}

QString JsonTree::Value::toString() const
{
    const QLatin1StringView text = bytes();
    if (isPlain())
        return QString(text);
    if (!(node().flags & Escaped))
        return QString::fromUtf8(text.data(), text.size());
    QString out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size();) {
        qsizetype run = i;
        while (run < text.size() && text[run] != QLatin1Char('\\'))
            ++run;
        out += QString::fromUtf8(text.data() + i, run - i);
        if (run == text.size())
            break;
        const char e = text[run + 1].toLatin1();
        switch (e) {
        case 'b':
            out += QChar(0x8);
            break;
        case 'f':
            out += QChar(0xc);
            break;
        case 'n':
            out += QChar(0xa);
            break;
        case 'r':
            out += QChar(0xd);
            break;
        case 't':
            out += QChar(0x9);
            break;
        case 'u':
            out += QChar(char16_t(QByteArray(text.data() + run + 2, 4).toUShort(nullptr, 16)));
            break;
        default:
            out += QLatin1Char(e);
            break;
        }
        i = run + (e == 'u' ? 6 : 2);
    }
    return out;
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
        return node().flags & Integer ? QJsonValue(toInteger(0)) : numberAsQtReadsIt(bytes());
    case QJsonValue::String:
        return toString();
    case QJsonValue::Array:
    case QJsonValue::Object: {
        const QJsonDocument document = QJsonDocument::fromJson(QByteArray(bytes().data(), bytes().size()));
        return isArray() ? QJsonValue(document.array()) : QJsonValue(document.object());
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
