#include "Symbols.h"

#include "platform/Log.h"

#include <array>
#include <utility>

namespace kovra::ui {

namespace {

struct Entry {
    const char16_t *name;
    const char16_t *ligature;
};

// One line per symbol the app shows. Keep the names exactly as the screens use them.
// Sign-in providers get neutral marks ("applelogo", "g.circle.fill"), never their logos.
constexpr std::array kTable{
    Entry{u"applelogo", u"devices"},
    Entry{u"arrow.clockwise", u"refresh"},
    Entry{u"arrow.triangle.2.circlepath", u"sync"},
    Entry{u"arrow.up.arrow.down.circle.fill", u"swap_vert"},
    Entry{u"bitcoinsign.circle.fill", u"currency_bitcoin"},
    Entry{u"bolt.fill", u"bolt"},
    Entry{u"checkmark", u"check"},
    Entry{u"checkmark.circle.fill", u"check_circle"},
    Entry{u"checkmark.shield.fill", u"verified_user"},
    Entry{u"chevron.left", u"chevron_left"},
    Entry{u"chevron.right", u"chevron_right"},
    Entry{u"chevron.up.chevron.down", u"unfold_more"},
    Entry{u"circle", u"radio_button_unchecked"},
    Entry{u"clock.badge.exclamationmark", u"history_toggle_off"},
    Entry{u"clock.badge.questionmark", u"schedule"},
    Entry{u"doc.on.doc", u"content_copy"},
    Entry{u"doc.text.magnifyingglass", u"find_in_page"},
    Entry{u"dollarsign.circle.fill", u"monetization_on"},
    Entry{u"ellipsis", u"more_horiz"},
    Entry{u"exclamationmark.octagon.fill", u"report"},
    Entry{u"exclamationmark.shield", u"gpp_maybe"},
    Entry{u"exclamationmark.triangle.fill", u"warning"},
    Entry{u"g.circle.fill", u"account_circle"},
    Entry{u"gauge.with.dots.needle.100percent", u"speed"},
    Entry{u"gearshape", u"settings"},
    Entry{u"globe", u"public"},
    Entry{u"hand.raised.fill", u"pan_tool"},
    Entry{u"macwindow", u"web_asset"},
    Entry{u"network", u"lan"},
    Entry{u"paperplane", u"send"},
    Entry{u"paperplane.fill", u"send"},
    Entry{u"person.crop.circle.badge.xmark", u"no_accounts"},
    Entry{u"play.fill", u"play_arrow"},
    Entry{u"power", u"power_settings_new"},
    Entry{u"questionmark.circle", u"help_outline"},
    Entry{u"rectangle.portrait.and.arrow.right", u"logout"},
    Entry{u"server.rack", u"dns"},
    Entry{u"shield", u"shield"},
    // A shield split into filled and open quarters.
    Entry{u"shield.lefthalf.filled", u"security"},
    Entry{u"square.and.arrow.up", u"ios_share"},
    Entry{u"star.fill", u"star"},
    Entry{u"stethoscope", u"medical_services"},
    Entry{u"wifi", u"wifi"},
    Entry{u"wifi.exclamationmark", u"signal_wifi_bad"},
    Entry{u"xmark", u"close"},
    Entry{u"xmark.octagon.fill", u"dangerous"},
    Entry{u"xmark.shield", u"gpp_bad"},
};

const Logger &log()
{
    static const Logger logger(QStringLiteral("Design"));
    return logger;
}

} // namespace

Symbols::Symbols(QObject *parent) : QObject(parent) {}

QString Symbols::ligature(QStringView name)
{
    for (const Entry &e : kTable) {
        if (name == QStringView(e.name))
            return QString::fromUtf16(e.ligature);
    }
    return {};
}

QStringList Symbols::names()
{
    QStringList out;
    out.reserve(qsizetype(kTable.size()));
    for (const Entry &e : kTable)
        out.append(QString::fromUtf16(e.name));
    return out;
}

QString Symbols::fontFamily()
{
    return QStringLiteral("Material Icons");
}

QString Symbols::glyph(const QString &name) const
{
    QString text = ligature(name);
    if (text.isEmpty() && !name.isEmpty())
        log().error(QStringLiteral("unknown symbol: %1").arg(name));
    return text;
}

} // namespace kovra::ui
