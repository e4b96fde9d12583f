#include "platform/JsonValue.h"

#include "platform/JsonError.h"

namespace kovra {

JsonValue JsonValue::number(QByteArray literal)
{
    JsonValue v;
    v.m_value = NumberText{std::move(literal)};
    return v;
}

const JsonValue *JsonValue::find(QStringView key) const
{
    if (type() != Type::Object)
        return nullptr;
    for (const Member &m : object()) {
        if (m.first == key)
            return &m.second;
    }
    return nullptr;
}

namespace {

// JSON's two-character escapes: the letter after the backslash and the character
// it stands for. The writer never needs "/" escaped, as it only looks up control
// characters, quotes and backslashes.
struct ShortEscape {
    char letter;
    char character;
};
constexpr ShortEscape shortEscapes[] = {
    {'"', '"'}, {'\\', '\\'}, {'/', '/'}, {'b', '\b'}, {'f', '\f'}, {'n', '\n'}, {'r', '\r'}, {'t', '\t'}};

const ShortEscape *findEscape(char c, char ShortEscape::*field)
{
    for (const ShortEscape &e : shortEscapes) {
        if (e.*field == c)
            return &e;
    }
    return nullptr;
}

// Recursive descent over the bytes; recursion is bounded by JsonValue::maxDepth.
class Parser {
public:
    explicit Parser(const QByteArray &text) : m_p(text.constData()), m_begin(m_p), m_end(m_p + text.size()) {}

    JsonValue document()
    {
        skipSpace();
        JsonValue v = value(0);
        skipSpace();
        if (m_p != m_end)
            fail(QStringLiteral("Unexpected text after the value"));
        return v;
    }

private:
    [[noreturn]] void fail(const QString &what) const
    {
        QString detail = m_p >= m_end ? QStringLiteral("Unexpected end of data.")
                                      : what + QStringLiteral(" at offset %1.").arg(m_p - m_begin);
        throw JsonDecodingError::dataCorrupted({}, QStringLiteral("The given data was not valid JSON. ") + detail);
    }
    [[noreturn]] void unexpected() const
    {
        const auto c = static_cast<unsigned char>(*m_p);
        fail(c >= 0x21 && c < 0x7f ? QStringLiteral("Unexpected character '%1'").arg(QChar(c))
                                   : QStringLiteral("Unexpected byte 0x%1").arg(c, 2, 16, QChar(u'0')));
    }

    void skipSpace()
    {
        while (m_p < m_end && (*m_p == ' ' || *m_p == '\t' || *m_p == '\n' || *m_p == '\r'))
            ++m_p;
    }

    bool consume(char c)
    {
        if (m_p < m_end && *m_p == c) {
            ++m_p;
            return true;
        }
        return false;
    }

    void expect(char c)
    {
        if (!consume(c))
            m_p < m_end ? unexpected() : fail({});
    }

    bool literal(const char *word)
    {
        const char *p = m_p;
        for (const char *w = word; *w; ++w, ++p) {
            if (p >= m_end || *p != *w)
                return false;
        }
        m_p = p;
        return true;
    }

    JsonValue value(int depth)
    {
        if (m_p >= m_end)
            fail({});
        switch (*m_p) {
        case '{': return object(depth + 1);
        case '[': return array(depth + 1);
        case '"': return JsonValue(string());
        case 't':
            if (literal("true"))
                return JsonValue(true);
            break;
        case 'f':
            if (literal("false"))
                return JsonValue(false);
            break;
        case 'n':
            if (literal("null"))
                return JsonValue();
            break;
        default:
            if (*m_p == '-' || (*m_p >= '0' && *m_p <= '9'))
                return number();
        }
        unexpected();
    }

    void checkDepth(int depth) const
    {
        if (depth > JsonValue::maxDepth)
            fail(QStringLiteral("Nesting deeper than %1 levels").arg(JsonValue::maxDepth));
    }

    JsonValue object(int depth)
    {
        checkDepth(depth);
        ++m_p;
        JsonValue::Object members;
        skipSpace();
        if (consume('}'))
            return JsonValue(std::move(members));
        for (;;) {
            skipSpace();
            if (m_p < m_end && *m_p != '"')
                unexpected();
            QString key = string();
            skipSpace();
            expect(':');
            skipSpace();
            members.emplace_back(std::move(key), value(depth));
            skipSpace();
            if (consume('}'))
                return JsonValue(std::move(members));
            expect(',');
        }
    }

    JsonValue array(int depth)
    {
        checkDepth(depth);
        ++m_p;
        JsonValue::Array elements;
        skipSpace();
        if (consume(']'))
            return JsonValue(std::move(elements));
        for (;;) {
            skipSpace();
            elements.push_back(value(depth));
            skipSpace();
            if (consume(']'))
                return JsonValue(std::move(elements));
            expect(',');
        }
    }

    bool digits()
    {
        const char *start = m_p;
        while (m_p < m_end && *m_p >= '0' && *m_p <= '9')
            ++m_p;
        return m_p > start;
    }

    JsonValue number()
    {
        const char *start = m_p;
        consume('-');
        if (!consume('0') && !digits())
            m_p < m_end ? unexpected() : fail({});
        if (consume('.') && !digits())
            m_p < m_end ? unexpected() : fail({});
        if (consume('e') || consume('E')) {
            if (!consume('+'))
                consume('-');
            if (!digits())
                m_p < m_end ? unexpected() : fail({});
        }
        return JsonValue::number(QByteArray(start, m_p - start));
    }

    int hex4()
    {
        int v = 0;
        for (int i = 0; i < 4; ++i, ++m_p) {
            if (m_p >= m_end)
                fail({});
            const char c = *m_p;
            const int d = c >= '0' && c <= '9' ? c - '0'
                : c >= 'a' && c <= 'f'         ? c - 'a' + 10
                : c >= 'A' && c <= 'F'         ? c - 'A' + 10
                                               : -1;
            if (d < 0)
                fail(QStringLiteral("Invalid \\u escape"));
            v = v * 16 + d;
        }
        return v;
    }

    // The code point of a \u escape (m_p just after the "u"), pairing surrogates.
    char32_t unicodeEscape()
    {
        const char *start = m_p - 2;
        const int first = hex4();
        if (first >= 0xDC00 && first <= 0xDFFF) {
            m_p = start;
            fail(QStringLiteral("Unpaired surrogate escape"));
        }
        if (first < 0xD800 || first > 0xDBFF)
            return char32_t(first);
        if (!literal("\\u")) {
            m_p = start;
            fail(QStringLiteral("Unpaired surrogate escape"));
        }
        const int second = hex4();
        if (second < 0xDC00 || second > 0xDFFF) {
            m_p = start;
            fail(QStringLiteral("Unpaired surrogate escape"));
        }
        return char32_t(0x10000 + ((first - 0xD800) << 10) + (second - 0xDC00));
    }

    // Length of the well-formed UTF-8 sequence at m_p, or 0.
    int utf8Length() const
    {
        const auto *p = reinterpret_cast<const unsigned char *>(m_p);
        const qsizetype left = m_end - m_p;
        const unsigned char b = p[0];
        int n;
        unsigned char lo = 0x80, hi = 0xBF;
        if (b >= 0xC2 && b <= 0xDF)
            n = 2;
        else if (b >= 0xE0 && b <= 0xEF) {
            n = 3;
            if (b == 0xE0)
                lo = 0xA0; // overlong
            if (b == 0xED)
                hi = 0x9F; // UTF-16 surrogates
        } else if (b >= 0xF0 && b <= 0xF4) {
            n = 4;
            if (b == 0xF0)
                lo = 0x90; // overlong
            if (b == 0xF4)
                hi = 0x8F; // above U+10FFFF
        } else
            return 0;
        if (left < n || p[1] < lo || p[1] > hi)
            return 0;
        for (int i = 2; i < n; ++i) {
            if (p[i] < 0x80 || p[i] > 0xBF)
                return 0;
        }
        return n;
    }

    QString string()
    {
        ++m_p; // opening quote
        QByteArray utf8;
        for (;;) {
            const char *run = m_p;
            while (m_p < m_end) {
                const auto c = static_cast<unsigned char>(*m_p);
                if (c == '"' || c == '\\' || c < 0x20 || c >= 0x80)
                    break;
                ++m_p;
            }
            utf8.append(run, m_p - run);
            if (m_p >= m_end)
                fail({});
            const auto c = static_cast<unsigned char>(*m_p);
            if (c == '"') {
                ++m_p;
                return QString::fromUtf8(utf8);
            }
            if (c < 0x20)
                fail(QStringLiteral("Unescaped control character"));
            if (c >= 0x80) {
                const int n = utf8Length();
                if (n == 0)
                    fail(QStringLiteral("Invalid UTF-8"));
                utf8.append(m_p, n);
                m_p += n;
                continue;
            }
            // Backslash escape.
            ++m_p;
            if (m_p >= m_end)
                fail({});
            const char e = *m_p++;
            if (e == 'u') {
                const char32_t cp = unicodeEscape();
                utf8.append(QString::fromUcs4(&cp, 1).toUtf8());
            } else if (const auto *escape = findEscape(e, &ShortEscape::letter)) {
                utf8.append(escape->character);
            } else {
                m_p -= 2;
                fail(QStringLiteral("Invalid escape sequence"));
            }
        }
    }

    const char *m_p;
    const char *m_begin;
    const char *m_end;
};

void writeString(QByteArray &out, const QString &s)
{
    out.append('"');
    const QByteArray utf8 = s.toUtf8();
    for (const char ch : utf8) {
        const auto c = static_cast<unsigned char>(ch);
        if (c >= 0x20 && c != '"' && c != '\\') {
            out.append(ch);
        } else if (const auto *escape = findEscape(ch, &ShortEscape::character)) {
            out.append('\\');
            out.append(escape->letter);
        } else {
            out.append("\\u00");
            out.append("0123456789abcdef"[c >> 4]);
            out.append("0123456789abcdef"[c & 0xF]);
        }
    }
    out.append('"');
}

template<class Items, class WriteItem>
void writeList(QByteArray &out, char open, char close, const Items &items, WriteItem writeItem)
{
    out.append(open);
    for (auto it = items.begin(); it != items.end(); ++it) {
        if (it != items.begin())
            out.append(',');
        writeItem(*it);
    }
    out.append(close);
}

void write(QByteArray &out, const JsonValue &v)
{
    switch (v.type()) {
    case JsonValue::Type::Null: out.append("null"); break;
    case JsonValue::Type::Bool: out.append(v.toBool() ? "true" : "false"); break;
    case JsonValue::Type::Number: out.append(v.numberLiteral()); break;
    case JsonValue::Type::String: writeString(out, v.string()); break;
    case JsonValue::Type::Array:
        writeList(out, '[', ']', v.array(), [&out](const JsonValue &e) { write(out, e); });
        break;
    case JsonValue::Type::Object:
        writeList(out, '{', '}', v.object(), [&out](const JsonValue::Member &m) {
            writeString(out, m.first);
            out.append(':');
            write(out, m.second);
        });
        break;
    }
}

} // namespace

JsonValue JsonValue::parse(const QByteArray &utf8)
{
    return Parser(utf8).document();
}

QByteArray JsonValue::toJson() const
{
    QByteArray out;
    write(out, *this);
    return out;
}

} // namespace kovra
