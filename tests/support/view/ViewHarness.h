#pragma once

#include "ui/design/Appearance.h"
#include "ui/design/DesignModule.h"
#include "ui/design/PreviewHost.h"
#include "ui/design/QmlWarnings.h"

#include <QAccessible>
#include <QColor>
#include <QImage>
#include <QObject>
#include <QQmlEngine>
#include <QQuickItem>
#include <QVariant>

#include <memory>

class QQuickWindow;
class QWindow;

namespace kovra::test {

// Shows QML components in a real window (the X display of the test environment,
// with GL) and reads what they draw. Each harness has its own engine with the
// design module, and its own Appearance (light, motion on) that the test switches;
// the desktop's settings play no part. Every QML warning is collected; ViewTestCase
// fails the test function on any.
//
//     auto *button = view().show("BrandButton", {{"text", "Оплатить"}, {"enabled", false}});
//     QCOMPARE(view().real("fill", "opacity"), 1.0);
//     QCOMPARE(view().argb("label"), argb(view().brand().onAccent()));
//     QVERIFY(!view().isShown("shadow"));
class ViewHarness {
public:
    ViewHarness();
    ~ViewHarness();
    ViewHarness(const ViewHarness &) = delete;
    ViewHarness &operator=(const ViewHarness &) = delete;

    ui::Appearance &appearance() { return m_appearance; }
    QQmlEngine &engine() { return m_engine; }
    ui::Brand &brand() { return *ui::brandOf(m_engine); }

    // Shows `component` of a module ("BrandCard", or "Kovra.Main/HomeView"), or a
    // QML snippet whose root is an item (QtQuick, QtQuick.Layouts, QtQuick.Window
    // and Kovra.Design are imported), with the initial properties, and waits for its
    // first frame. Returns the root item; nullptr (with the error recorded as a
    // warning) when it does not load.
    QQuickItem *show(const QString &component, const QVariantMap &properties = {},
                     ui::PreviewOptions options = {});
    QQuickItem *showQml(const QByteArray &snippet, const QVariantMap &properties = {},
                        ui::PreviewOptions options = {});

    QQuickWindow *window() const { return m_host->window(); }
    QQuickItem *root() const { return m_host->item(); }

    // The item of that objectName below the root (the root itself included), or
    // nullptr. Items inside windows the root opened are found through
    // findIn(window->contentItem(), name).
    QQuickItem *find(const QString &objectName) const { return findIn(root(), objectName); }
    static QQuickItem *findIn(QQuickItem *from, const QString &objectName);

    // Properties of a named item, grouped ones too ("border.color", "font.pixelSize");
    // a failed lookup gives an invalid value.
    QVariant value(const QString &objectName, const QString &property) const;
    qreal real(const QString &objectName, const QString &property) const;
    // A colour as "#AARRGGBB", for comparing colours at 8 bits a channel.
    QString argb(const QString &objectName, const QString &property = QStringLiteral("color")) const;
    // Whether the named item exists and is effectively visible (it and its parents).
    bool isShown(const QString &objectName) const { return find(objectName) && find(objectName)->isVisible(); }

    // Waits until the window has drawn another frame (after a change).
    bool waitForFrame();
    // What the window shows now (a null image while it is not shown), and one pixel of
    // it at a point of `item`.
    QImage grab();
    QColor pixel(QQuickItem *item, QPointF point);
    // Whether `image` (a grab) holds a patch of colour inside `item` (2x2 saturated
    // pixels of one hue): an emoji drawn in colour, where text in the label colours,
    // even with subpixel antialiasing, has none.
    static bool drawsColour(const QImage &image, QQuickItem *item);

    // Saves a screenshot of the window (or of `other`, a sheet it opened) as
    // <folder>/<test function>[-<data tag>]-<name>.png, the folder being
    // $KOVRA_SCREENSHOTS or "screenshots" beside the test executable. Returns the
    // file, empty when nothing was saved (the window is not shown).
    QString saveScreenshot(const QString &name, QQuickWindow *other = nullptr);

    QStringList takeWarnings() { return m_warnings.take(); }

private:
    QQuickItem *waitShown(const QString &error);

    ui::QmlWarningCollector m_warnings;
    ui::Appearance m_appearance;
    QQmlEngine m_engine;
    std::unique_ptr<ui::PreviewHost> m_host;
    int m_frames = 0;
};

// A colour as "#AARRGGBB" (QCOMPARE(view().argb("disc"), argb(brand.success())));
// colours that went through QML differ from C++ ones below 8 bits a channel.
QString argb(const QColor &color);
QColor withAlpha(QColor color, qreal alpha);

// The middle of an item in scene coordinates; a click there (the item must be shown);
// the text a screen reader reads for an item.
QPointF centreOf(QQuickItem *item);
void clickCentre(QWindow *window, QQuickItem *item);
QString accessibleText(QQuickItem *item, QAccessible::Text which);

// Base of view test classes: a fresh harness for every test function, dark when the
// data row's tag names "dark", failed on any QML warning, with a screenshot of a
// failed function for review. A subclass
// that declares its own init() or cleanup() calls these first.
class ViewTestCase : public QObject {
    Q_OBJECT
protected:
    ViewHarness &view() { return *m_view; }

protected Q_SLOTS:
    void init();
    void cleanup();

private:
    std::unique_ptr<ViewHarness> m_view;
};

} // namespace kovra::test
