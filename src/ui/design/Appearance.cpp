#include "Appearance.h"

#include "platform/Property.h"

#include <QPointer>
#include <QQmlEngine>

namespace kovra::ui {

namespace {
constexpr char kEngineProperty[] = "_kovra_appearance";
}

Appearance::Appearance(QObject *parent) : QObject(parent) {}

void Appearance::setDark(bool dark)
{
    updateProperty(m_dark, dark, this, &Appearance::darkChanged);
}

void Appearance::setReduceMotion(bool reduce)
{
    updateProperty(m_reduceMotion, reduce, this, &Appearance::reduceMotionChanged);
}

void Appearance::install(QQmlEngine &engine, Appearance *appearance)
{
    engine.setProperty(kEngineProperty, QVariant::fromValue(QPointer<QObject>(appearance)));
}

Appearance *Appearance::installed(const QQmlEngine &engine)
{
    const QVariant value = engine.property(kEngineProperty);
    return qobject_cast<Appearance *>(value.value<QPointer<QObject>>().data());
}

} // namespace kovra::ui
