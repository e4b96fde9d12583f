#include "Brand.h"

#include "Appearance.h"

#include <QEvent>
#include <QGuiApplication>
#include <QPalette>
#include <QQmlEngine>

namespace kovra::ui {

namespace {

QPalette applicationPalette()
{
    return QGuiApplication::palette();
}

} // namespace

Brand::Brand(Appearance *appearance, QObject *parent)
    : QObject(parent), m_appearance(appearance ? appearance : new Appearance(this))
{
    connect(m_appearance, &Appearance::darkChanged, this, [this] {
        Q_EMIT darkChanged();
        refresh();
    });
    connect(m_appearance, &Appearance::reduceMotionChanged, this, &Brand::reduceMotionChanged);
    m_colors = BrandColors::resolve(isDark(), applicationPalette());
    if (qApp)
        qApp->installEventFilter(this);
}

Brand::~Brand() = default;

Brand *Brand::create(QQmlEngine *qmlEngine, QJSEngine *)
{
    return new Brand(qmlEngine ? Appearance::installed(*qmlEngine) : nullptr);
}

bool Brand::isDark() const
{
    return m_appearance && m_appearance->isDark();
}

bool Brand::reduceMotion() const
{
    return m_appearance && m_appearance->reduceMotion();
}

bool Brand::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == qApp && event->type() == QEvent::ApplicationPaletteChange)
        refresh();
    return QObject::eventFilter(watched, event);
}

void Brand::refresh()
{
    BrandColors next = BrandColors::resolve(isDark(), applicationPalette());
    if (next == m_colors)
        return;
    m_colors = std::move(next);
    Q_EMIT colorsChanged();
}

QColor Brand::statusColor(StatusDotState::Value state) const
{
    switch (state) {
    case StatusDotState::Connected: return m_colors.success;
    case StatusDotState::Transition: return m_colors.amber;
    case StatusDotState::Warning: return m_colors.warning;
    case StatusDotState::Danger: return m_colors.danger;
    case StatusDotState::Inactive: break;
    }
    return m_colors.textSecondary;
}

QColor Brand::toneColor(NoticeTone::Value tone) const
{
    switch (tone) {
    case NoticeTone::Info: return m_colors.accent;
    case NoticeTone::Warning: return m_colors.warning;
    case NoticeTone::Danger: break;
    }
    return m_colors.danger;
}

QVariantList Brand::statusColors() const
{
    QVariantList out;
    for (auto state : {StatusDotState::Connected, StatusDotState::Transition, StatusDotState::Warning,
                       StatusDotState::Danger, StatusDotState::Inactive})
        out.append(statusColor(state));
    return out;
}

QVariantList Brand::toneColors() const
{
    return {toneColor(NoticeTone::Info), toneColor(NoticeTone::Warning), toneColor(NoticeTone::Danger)};
}

ShadowStyle Brand::shadowStyle(Elevation::Value elevation)
{
    // The other elevations keep a shadow, fully transparent and without blur.
    if (elevation == Elevation::Button)
        return {QColor::fromRgbF(0, 0, 0, 0.12f), 10, 0, 4};
    return {QColor::fromRgbF(0, 0, 0, 0), 0, 0, 0};
}

QVariantMap Brand::shadow(int elevation) const
{
    const ShadowStyle s = shadowStyle(Elevation::Value(elevation));
    return {{QStringLiteral("color"), s.color},
            {QStringLiteral("radius"), s.radius},
            {QStringLiteral("x"), s.x},
            {QStringLiteral("y"), s.y}};
}

QFont Brand::withWeight(const QFont &font, int weight) const
{
    QFont out = font;
    out.setWeight(QFont::Weight(std::clamp(weight, 1, 1000)));
    return out;
}

QString Brand::toneSymbolName(NoticeTone::Value tone)
{
    switch (tone) {
    case NoticeTone::Info: return QStringLiteral("arrow.triangle.2.circlepath");
    case NoticeTone::Warning: return QStringLiteral("exclamationmark.triangle.fill");
    case NoticeTone::Danger: break;
    }
    return QStringLiteral("exclamationmark.octagon.fill");
}

QString Brand::toneSymbol(int tone) const
{
    return toneSymbolName(NoticeTone::Value(tone));
}

} // namespace kovra::ui
