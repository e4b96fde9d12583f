#include "ViewHarness.h"

#include "ui/design/Brand.h"
#include "ui/design/DesignModule.h"

#include <QCoreApplication>
#include <QDir>
#include <QQmlProperty>
#include <QQuickWindow>
#include <QTest>

namespace kovra::test {

namespace {

const QByteArray kImports = "import QtQuick\nimport QtQuick.Layouts\nimport QtQuick.Window\nimport Kovra.Design\n";

QString screenshotFolder()
{
    const QString env = qEnvironmentVariable("KOVRA_SCREENSHOTS");
    return env.isEmpty() ? QCoreApplication::applicationDirPath() + QStringLiteral("/screenshots") : env;
}

} // namespace

ViewHarness::ViewHarness()
{
    m_warnings.watch(m_engine);
    ui::prepareEngine(m_engine, &m_appearance);
    m_host = std::make_unique<ui::PreviewHost>(m_engine);
}

ViewHarness::~ViewHarness()
{
    m_host.reset();
}

QQuickItem *ViewHarness::show(const QString &component, const QVariantMap &properties, ui::PreviewOptions options)
{
    const qsizetype slash = component.lastIndexOf(u'/');
    const QString uri = slash < 0 ? QStringLiteral("Kovra.Design") : component.left(slash);
    const QString name = slash < 0 ? component : component.mid(slash + 1);
    return waitShown(m_host->load(ui::PreviewHost::moduleFile(uri, name), properties, options));
}

QQuickItem *ViewHarness::showQml(const QByteArray &snippet, const QVariantMap &properties, ui::PreviewOptions options)
{
    return waitShown(m_host->loadSource(kImports + snippet, properties, options));
}

QQuickItem *ViewHarness::waitShown(const QString &error)
{
    if (!error.isEmpty()) {
        m_warnings.record(error);
        // The window made for it has loaded the driver all the same.
        ui::PreviewHost::keepGraphicsDriverLoaded();
        return nullptr;
    }
    QQuickWindow *w = m_host->window();
    QObject::connect(w, &QQuickWindow::frameSwapped, w, [this] { ++m_frames; });
    w->show();
    w->requestActivate();
    if (!QTest::qWaitForWindowExposed(w) || !waitForFrame())
        return nullptr;
    ui::PreviewHost::keepGraphicsDriverLoaded();
    return m_host->item();
}

QQuickItem *ViewHarness::findIn(QQuickItem *from, const QString &objectName)
{
    if (!from)
        return nullptr;
    if (from->objectName() == objectName)
        return from;
    for (QQuickItem *child : from->childItems()) {
        if (QQuickItem *found = findIn(child, objectName))
            return found;
    }
    return nullptr;
}

QVariant ViewHarness::value(const QString &objectName, const QString &property) const
{
    QQuickItem *item = find(objectName);
    return item ? QQmlProperty::read(item, property) : QVariant();
}

QString ViewHarness::argb(const QString &objectName, const QString &property) const
{
    const QVariant v = value(objectName, property);
    return v.isValid() ? test::argb(v.value<QColor>()) : QString();
}

QString argb(const QColor &color)
{
    return color.name(QColor::HexArgb);
}

QColor withAlpha(QColor color, qreal alpha)
{
    color.setAlphaF(float(alpha));
    return color;
}

QPointF centreOf(QQuickItem *item)
{
    return item->mapToScene(QPointF(item->width(), item->height()) / 2);
}

void clickCentre(QWindow *window, QQuickItem *item)
{
    QVERIFY(item && item->isVisible());
    QTest::mouseClick(window, Qt::LeftButton, {}, centreOf(item).toPoint());
}

QString accessibleText(QQuickItem *item, QAccessible::Text which)
{
    const QAccessibleInterface *a11y = QAccessible::queryAccessibleInterface(item);
    return a11y ? a11y->text(which) : QString();
}

qreal ViewHarness::real(const QString &objectName, const QString &property) const
{
    const QVariant v = value(objectName, property);
    return v.isValid() ? v.toReal() : qQNaN();
}

bool ViewHarness::waitForFrame()
{
    QQuickWindow *w = window();
    if (!w)
        return false;
    const int before = m_frames;
    w->update();
    return QTest::qWaitFor([&] { return m_frames > before; }, 5000);
}

QImage ViewHarness::grab()
{
    // A window that never showed (its view did not load) has nothing to read back, and
    // reading it anyway hands out an image over freed memory.
    return window() && window()->isExposed() ? window()->grabWindow() : QImage();
}

bool ViewHarness::drawsColour(const QImage &image, QQuickItem *item)
{
    const qreal dpr = image.devicePixelRatio();
    const QRectF scene = item->mapRectToScene(QRectF(0, 0, item->width(), item->height()));
    const QRect r = QRectF(scene.topLeft() * dpr, scene.size() * dpr).toAlignedRect() & image.rect();
    const auto saturated = [&image](int x, int y, int hue) {
        const QColor c = image.pixelColor(x, y);
        const int apart = qAbs(c.hsvHue() - hue);
        return c.hsvSaturation() > 120 && c.value() > 80 && qMin(apart, 360 - apart) < 30;
    };
    // Text drawn with subpixel antialiasing has coloured fringes one pixel wide; a
    // picture in colour has patches.
    for (int y = r.top(); y < r.bottom(); ++y) {
        for (int x = r.left(); x < r.right(); ++x) {
            const int hue = image.pixelColor(x, y).hsvHue();
            if (saturated(x, y, hue) && saturated(x + 1, y, hue) && saturated(x, y + 1, hue)
                && saturated(x + 1, y + 1, hue))
                return true;
        }
    }
    return false;
}

QColor ViewHarness::pixel(QQuickItem *item, QPointF point)
{
    if (!item)
        return {};
    const QImage image = grab();
    const QPointF scene = item->mapToScene(point) * window()->effectiveDevicePixelRatio();
    const QPoint at = scene.toPoint();
    return image.rect().contains(at) ? image.pixelColor(at) : QColor();
}

QString ViewHarness::saveScreenshot(const QString &name, QQuickWindow *other)
{
    QDir dir(screenshotFolder());
    dir.mkpath(QStringLiteral("."));
    QString stem = QString::fromLatin1(QTest::currentTestFunction());
    if (const char *tag = QTest::currentDataTag(); tag && *tag)
        stem += u'-' + QString::fromUtf8(tag).replace(u' ', u'_').replace(u'/', u'_');
    const QString file = dir.filePath(stem + u'-' + name + QStringLiteral(".png"));
    const QImage picture = other ? other->grabWindow() : grab();
    return !picture.isNull() && picture.save(file) ? file : QString();
}

void ViewTestCase::init()
{
    m_view = std::make_unique<ViewHarness>();
    m_view->appearance().setDark(QByteArray(QTest::currentDataTag()).contains("dark"));
}

void ViewTestCase::cleanup()
{
    const QStringList warnings = m_view ? m_view->takeWarnings() : QStringList();
    if (QTest::currentTestFailed() && m_view) {
        if (const QString file = m_view->saveScreenshot(QStringLiteral("failed")); !file.isEmpty())
            qInfo("screenshot: %s", qPrintable(file));
    }
    m_view.reset();
    QVERIFY2(warnings.isEmpty(), qPrintable(QStringLiteral("QML warnings:\n") + warnings.join(u'\n')));
}

} // namespace kovra::test
