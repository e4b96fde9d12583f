#include "account/MeOut.h"

#include <QRegularExpression>

namespace kovra {
namespace {

// "YYYY-MM-DDTHH:MM:SS", then ".<digits>" exactly when `fraction`, then "Z", "+HH:MM"
// or "+HHMM" (or "-"), and nothing after it.
std::optional<QDateTime> parseInternetDateTime(const QString &s, bool fraction)
{
    qsizetype pos = 0;
    const auto number = [&s, &pos](qsizetype digits, int &out) {
        if (pos + digits > s.size())
            return false;
        out = 0;
        for (qsizetype end = pos + digits; pos < end; ++pos) {
            const char16_t c = s.at(pos).unicode();
            if (c < u'0' || c > u'9')
                return false;
            out = out * 10 + (c - u'0');
        }
        return true;
    };
    const auto literal = [&s, &pos](char16_t c) {
        if (pos >= s.size() || s.at(pos) != c)
            return false;
        ++pos;
        return true;
    };

    int y, mo, d, h, mi, sec;
    if (!number(4, y) || !literal(u'-') || !number(2, mo) || !literal(u'-') || !number(2, d) || !literal(u'T')
        || !number(2, h) || !literal(u':') || !number(2, mi) || !literal(u':') || !number(2, sec))
        return std::nullopt;
    int ms = 0;
    if (fraction) {
        if (!literal(u'.'))
            return std::nullopt;
        const qsizetype start = pos;
        int scale = 100;
        while (pos < s.size() && s.at(pos).isDigit() && s.at(pos).unicode() < 0x80) {
            ms += (s.at(pos).unicode() - u'0') * scale;
            scale /= 10;
            ++pos;
        }
        if (pos == start)
            return std::nullopt;
    }

    int offsetSeconds = 0;
    if (!literal(u'Z')) {
        const bool negative = pos < s.size() && s.at(pos) == u'-';
        if (!literal(u'+') && !literal(u'-'))
            return std::nullopt;
        int oh, om;
        if (!number(2, oh))
            return std::nullopt;
        literal(u':');
        if (!number(2, om) || oh > 23 || om > 59)
            return std::nullopt;
        offsetSeconds = (oh * 3600 + om * 60) * (negative ? -1 : 1);
    }
    if (pos != s.size())
        return std::nullopt;

    const QDate date(y, mo, d);
    const QTime time(h, mi, sec, ms);
    if (!date.isValid() || !time.isValid())
        return std::nullopt;
    return QDateTime(date, time, Qt::OffsetFromUTC, offsetSeconds);
}

std::optional<QDateTime> parseEitherForm(const QString &s)
{
    if (auto date = parseInternetDateTime(s, true))
        return date;
    return parseInternetDateTime(s, false);
}

std::optional<QDateTime> decodeCreatedAt(const JsonDecodingContainer &c)
{
    try {
        if (auto date = c.decodeIfPresent<QDateTime>("createdAt"))
            return date;
    } catch (const JsonDecodingError &) {
    }
    std::optional<QString> text;
    try {
        text = c.decodeIfPresent<QString>("createdAt");
    } catch (const JsonDecodingError &) {
    }
    if (!text || text->isEmpty())
        return std::nullopt;
    return parseLenientISO8601Date(*text);
}

} // namespace

std::optional<QDateTime> parseLenientISO8601Date(const QString &text)
{
    QString s = text;
    s.replace(u' ', u'T');
    if (auto date = parseEitherForm(s))
        return date;
    static const QRegularExpression trailingOffset(QStringLiteral("[+-][0-9]{2}:?[0-9]{2}$"));
    if (s.endsWith(u'Z') || s.endsWith(u'z') || trailingOffset.match(s).hasMatch())
        return std::nullopt; // a zone was given: the text is malformed
    return parseEitherForm(s + u'Z'); // no zone: UTC
}

MeOut MeOut::decode(const JsonDecodingContainer &c)
{
    MeOut out;
    out.telegramId = c.decodeIfPresent<qint64>("telegramId");
    out.marzbanUsername = c.decodeIfPresent<QString>("marzbanUsername");
    out.createdAt = decodeCreatedAt(c);
    out.hasTelegram = c.decode<bool>("hasTelegram");
    out.hasApple = c.decode<bool>("hasApple");
    out.appleEmail = c.decodeIfPresent<QString>("appleEmail");
    out.hasGoogle = c.decodeIfPresent<bool>("hasGoogle").value_or(false);
    out.googleEmail = c.decodeIfPresent<QString>("googleEmail");
    return out;
}

void MeOut::encode(JsonEncodingContainer &c) const
{
    c.encodeIfPresent("telegramId", telegramId);
    c.encodeIfPresent("marzbanUsername", marzbanUsername);
    c.encodeIfPresent("createdAt", createdAt);
    c.encode("hasTelegram", hasTelegram);
    c.encode("hasApple", hasApple);
    c.encodeIfPresent("appleEmail", appleEmail);
    c.encode("hasGoogle", hasGoogle);
    c.encodeIfPresent("googleEmail", googleEmail);
}

} // namespace kovra
