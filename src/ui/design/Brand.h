#pragma once

#include "BrandColors.h"
#include "BrandFonts.h"
#include "DesignTypes.h"

#include <QColor>
#include <QFont>
#include <QObject>
#include <QPointer>
#include <QVariantList>
#include <QVariantMap>
#include <QtQml/qqmlregistration.h>

class QQmlEngine;
class QJSEngine;

namespace kovra::ui {

class Appearance;

// A shadow preset: colour (with its opacity), blur radius and offset.
struct ShadowStyle {
    QColor color;
    qreal radius = 0;
    qreal x = 0;
    qreal y = 0;

    bool operator==(const ShadowStyle &) const = default;
};

// The design tokens: colours, fonts, shadows and the small tables several
// components share. One instance per QML engine (the `Brand` singleton), following
// the Appearance installed on that engine and the application palette. A change of
// either emits colorsChanged; the token set itself is never rebuilt.
//
// The accent gradient runs from `accent` (top-left) to `accentDeep`
// (bottom-right); the DiagonalGradient item draws it.
class Brand : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON

    Q_PROPERTY(bool dark READ isDark NOTIFY darkChanged)
    Q_PROPERTY(bool reduceMotion READ reduceMotion NOTIFY reduceMotionChanged)

    Q_PROPERTY(QColor tint READ tint NOTIFY colorsChanged)
    Q_PROPERTY(QColor accent READ accent NOTIFY colorsChanged)
    Q_PROPERTY(QColor accentDeep READ accentDeep NOTIFY colorsChanged)
    Q_PROPERTY(QColor mint READ mint NOTIFY colorsChanged)
    Q_PROPERTY(QColor mintSoft READ mintSoft NOTIFY colorsChanged)
    Q_PROPERTY(QColor amber READ amber NOTIFY colorsChanged)
    Q_PROPERTY(QColor warning READ warning NOTIFY colorsChanged)
    Q_PROPERTY(QColor success READ success NOTIFY colorsChanged)
    Q_PROPERTY(QColor danger READ danger NOTIFY colorsChanged)
    Q_PROPERTY(QColor systemGray READ systemGray NOTIFY colorsChanged)
    Q_PROPERTY(QColor background READ background NOTIFY colorsChanged)
    Q_PROPERTY(QColor surface READ surface NOTIFY colorsChanged)
    Q_PROPERTY(QColor separator READ separator NOTIFY colorsChanged)
    Q_PROPERTY(QColor textPrimary READ textPrimary NOTIFY colorsChanged)
    Q_PROPERTY(QColor textSecondary READ textSecondary NOTIFY colorsChanged)
    Q_PROPERTY(QColor textTertiary READ textTertiary NOTIFY colorsChanged)
    Q_PROPERTY(QColor onAccent READ onAccent NOTIFY colorsChanged)
    // Indexed by StatusDotState and NoticeTone (QML reads `Brand.statusColors[state]`).
    Q_PROPERTY(QVariantList statusColors READ statusColors NOTIFY colorsChanged)
    Q_PROPERTY(QVariantList toneColors READ toneColors NOTIFY colorsChanged)

    Q_PROPERTY(QFont largeTitleFont READ largeTitleFont CONSTANT)
    Q_PROPERTY(QFont titleFont READ titleFont CONSTANT)
    Q_PROPERTY(QFont headlineFont READ headlineFont CONSTANT)
    Q_PROPERTY(QFont bodyFont READ bodyFont CONSTANT)
    Q_PROPERTY(QFont calloutFont READ calloutFont CONSTANT)
    Q_PROPERTY(QFont subheadlineFont READ subheadlineFont CONSTANT)
    Q_PROPERTY(QFont captionFont READ captionFont CONSTANT)
    Q_PROPERTY(QFont caption2Font READ caption2Font CONSTANT)
    Q_PROPERTY(QFont numericFont READ numericFont CONSTANT)
    Q_PROPERTY(QFont monoFont READ monoFont CONSTANT)

public:
    // Follows `appearance` (not owned); without one, a light appearance of its own.
    explicit Brand(Appearance *appearance, QObject *parent = nullptr);
    ~Brand() override;

    // The QML singleton factory: the Appearance installed on the engine.
    static Brand *create(QQmlEngine *qmlEngine, QJSEngine *jsEngine);

    bool isDark() const;
    bool reduceMotion() const;

    const BrandColors &colors() const { return m_colors; }
    QColor tint() const { return m_colors.tint; }
    QColor accent() const { return m_colors.accent; }
    QColor accentDeep() const { return m_colors.accentDeep; }
    QColor mint() const { return m_colors.mint; }
    QColor mintSoft() const { return m_colors.mintSoft; }
    QColor amber() const { return m_colors.amber; }
    QColor warning() const { return m_colors.warning; }
    QColor success() const { return m_colors.success; }
    QColor danger() const { return m_colors.danger; }
    QColor systemGray() const { return m_colors.systemGray; }
    QColor background() const { return m_colors.background; }
    QColor surface() const { return m_colors.surface; }
    QColor separator() const { return m_colors.separator; }
    QColor textPrimary() const { return m_colors.textPrimary; }
    QColor textSecondary() const { return m_colors.textSecondary; }
    QColor textTertiary() const { return m_colors.textTertiary; }
    QColor onAccent() const { return m_colors.onAccent; }

    QColor statusColor(StatusDotState::Value state) const;
    QColor toneColor(NoticeTone::Value tone) const;
    QVariantList statusColors() const;
    QVariantList toneColors() const;

    QFont largeTitleFont() const { return BrandFonts::instance().largeTitle; }
    QFont titleFont() const { return BrandFonts::instance().title; }
    QFont headlineFont() const { return BrandFonts::instance().headline; }
    QFont bodyFont() const { return BrandFonts::instance().body; }
    QFont calloutFont() const { return BrandFonts::instance().callout; }
    QFont subheadlineFont() const { return BrandFonts::instance().subheadline; }
    QFont captionFont() const { return BrandFonts::instance().caption; }
    QFont caption2Font() const { return BrandFonts::instance().caption2; }
    QFont numericFont() const { return BrandFonts::instance().numeric; }
    QFont monoFont() const { return BrandFonts::instance().mono; }

    // The shadow of an elevation; only Button is visible (black 0.12, radius 10, 4 down).
    static ShadowStyle shadowStyle(Elevation::Value elevation);
    // The same for QML: {color, radius, x, y}.
    Q_INVOKABLE QVariantMap shadow(int elevation) const;

    // `font` with another weight (QML: `Brand.withWeight(Brand.captionFont, Font.DemiBold)`).
    Q_INVOKABLE QFont withWeight(const QFont &font, int weight) const;

    // The symbol name of a notice tone (see Symbols for the glyph).
    static QString toneSymbolName(NoticeTone::Value tone);
    Q_INVOKABLE QString toneSymbol(int tone) const;

Q_SIGNALS:
    void darkChanged();
    void reduceMotionChanged();
    void colorsChanged();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void refresh();

    QPointer<Appearance> m_appearance;
    BrandColors m_colors;
};

} // namespace kovra::ui
