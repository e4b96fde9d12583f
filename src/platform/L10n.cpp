#include "platform/L10n.h"

#include <QCoreApplication>
#include <QLocale>

#include <algorithm>
#include <charconv>
#include <string>

namespace kovra::L10n {

namespace {

// "%.Nf" with printf's rounding (the exact binary value rounded, 1.25 to one digit is
// 1.2) and always a full stop: the C library's printf follows LC_NUMERIC, which a GUI
// application sets from the user's locale.
QString fixedPoint(double value, int precision)
{
    precision = std::clamp(precision, 0, 64);
    // The longest fixed form of a finite double has 309 digits before the point.
    std::string buf(size_t(330 + precision), '\0');
    const auto result = std::to_chars(buf.data(), buf.data() + buf.size(), value, std::chars_format::fixed, precision);
    if (result.ec != std::errc())
        return {};
    return QString::fromLatin1(buf.data(), result.ptr - buf.data());
}

} // namespace

QString text(const char *key, QStringView russianDefault)
{
    // Without a translation for it, Qt hands back the key itself.
    const auto found = [key](const QString &translated) {
        return !translated.isEmpty() && translated != QLatin1String(key);
    };
    if (QString byId = qtTrId(key); found(byId))
        return byId;
    if (QString bySource = QCoreApplication::translate("kovra", key); found(bySource))
        return bySource;
    return russianDefault.toString();
}

const QLocale &locale()
{
    static const QLocale ru(QLocale::Russian, QLocale::Russia);
    return ru;
}

QString format(const QString &pattern, const QVariantList &args)
{
    QString out;
    out.reserve(pattern.size() + 16);
    int nextArg = 0;
    const qsizetype n = pattern.size();
    for (qsizetype i = 0; i < n; ++i) {
        const QChar c = pattern.at(i);
        if (c != u'%' || i + 1 >= n) {
            out.append(c);
            continue;
        }
        qsizetype j = i + 1;
        if (pattern.at(j) == u'%') {
            out.append(u'%');
            i = j;
            continue;
        }
        // Optional position "N$".
        int position = -1;
        qsizetype k = j;
        while (k < n && pattern.at(k).isDigit())
            ++k;
        if (k > j && k < n && pattern.at(k) == u'$') {
            position = pattern.mid(j, k - j).toInt() - 1;
            j = k + 1;
        }
        // Optional precision ".N".
        int precision = -1;
        if (j < n && pattern.at(j) == u'.') {
            qsizetype p = j + 1;
            while (p < n && pattern.at(p).isDigit())
                ++p;
            precision = pattern.mid(j + 1, p - j - 1).toInt();
            j = p;
        }
        // Length modifiers.
        while (j < n && (pattern.at(j) == u'l' || pattern.at(j) == u'h' || pattern.at(j) == u'q'))
            ++j;
        if (j >= n) {
            out.append(pattern.mid(i));
            break;
        }
        const QChar conv = pattern.at(j);
        const int index = position >= 0 ? position : nextArg++;
        const QVariant arg = index >= 0 && index < args.size() ? args.at(index) : QVariant();
        switch (conv.unicode()) {
        case 'd':
        case 'i':
            out.append(QString::number(arg.toLongLong()));
            break;
        case 'u':
            out.append(QString::number(arg.toULongLong()));
            break;
        case 'f':
            out.append(fixedPoint(arg.toDouble(), precision < 0 ? 6 : precision));
            break;
        case '@':
        case 's':
            out.append(arg.toString());
            break;
        default:
            out.append(pattern.mid(i, j - i + 1));
            if (position < 0)
                --nextArg;
            break;
        }
        i = j;
    }
    return out;
}

} // namespace kovra::L10n
