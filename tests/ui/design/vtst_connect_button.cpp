#include "ui/design/Brand.h"

#include "support/view/ViewHarness.h"

#include <QAccessible>
#include <QQuickWindow>
#include <QSignalSpy>
#include <QTest>

using namespace kovra;
using namespace kovra::ui;
using test::argb;
using test::withAlpha;

class ConnectButtonTest : public test::ViewTestCase {
    Q_OBJECT

    QColor token(const QString &name) { return view().brand().property(name.toLatin1().constData()).value<QColor>(); }

private Q_SLOTS:
    void visuals_data()
    {
        QTest::addColumn<int>("visual");
        QTest::addColumn<bool>("canInteract");
        QTest::addColumn<bool>("reduceMotion");
        QTest::addColumn<QString>("disc"); // token, or "gradient"
        QTest::addColumn<QString>("ring"); // "", "pulse <token>" or "still <token> <opacity> <extra size>"
        QTest::addColumn<QString>("glow"); // "<token> <opacity> <radius>"
        QTest::addColumn<QString>("glyph");
        QTest::addColumn<QString>("symbolColor");
        QTest::addColumn<qreal>("opacity");
        using V = ConnectButtonVisual::Value;
        QTest::newRow("idle") << int(V::Idle) << true << false << "gradient" << "" << "accent 0.3 22"
                              << "power_settings_new" << "onAccent" << 1.0;
        QTest::newRow("idle, no interaction") << int(V::Idle) << false << false << "systemGray" << ""
                                              << "accent 0 22" << "power_settings_new" << "textSecondary" << 0.45;
        QTest::newRow("progress") << int(V::Progress) << true << false << "warning" << "pulse warning"
                                  << "warning 0.3 22" << "more_horiz" << "onAccent" << 1.0;
        QTest::newRow("progress, reduced motion") << int(V::Progress) << true << true << "warning"
                                                  << "still warning 0.45 18" << "warning 0.3 22" << "more_horiz"
                                                  << "onAccent" << 1.0;
        QTest::newRow("checking") << int(V::ConnectedChecking) << true << false << "mintSoft" << "still mint 0.3 14"
                                  << "mint 0.18 22" << "bolt" << "onAccent" << 1.0;
        QTest::newRow("verified") << int(V::Verified) << true << false << "success" << "pulse mint" << "mint 0.45 26"
                                  << "bolt" << "onAccent" << 1.0;
        QTest::newRow("verified, reduced motion") << int(V::Verified) << true << true << "success"
                                                  << "still mint 0.45 18" << "mint 0.45 26" << "bolt" << "onAccent"
                                                  << 1.0;
        QTest::newRow("failed") << int(V::Failed) << true << false << "danger" << "still danger 0.3 14"
                                << "danger 0.3 22" << "bolt" << "onAccent" << 1.0;
    }
    void visuals()
    {
        QFETCH(int, visual);
        QFETCH(bool, canInteract);
        QFETCH(bool, reduceMotion);
        QFETCH(QString, disc);
        QFETCH(QString, ring);
        QFETCH(QString, glow);
        QFETCH(QString, symbolColor);
        view().appearance().setReduceMotion(reduceMotion);
        QQuickItem *button = view().show(u"ConnectButton"_qs, {{"visual", visual}, {"canInteract", canInteract}});
        QVERIFY(button);
        QCOMPARE(button->width(), 156.0); // 116 + 40
        QCOMPARE(view().real("discFill", "width"), 116.0);

        QCOMPARE(view().isShown("discGradient"), disc == u"gradient");
        if (disc != u"gradient") {
            QCOMPARE(view().argb("discFill"), argb(token(disc)));
            if (token(disc).alpha() == 255 && button->opacity() == 1) // drawn there, left of the symbol
                QCOMPARE(argb(view().pixel(button, {40, 78})), argb(token(disc)));
        }

        const QStringList r = ring.split(u' ', Qt::SkipEmptyParts);
        QCOMPARE(view().isShown("pulseRing"), r.value(0) == u"pulse");
        QCOMPARE(view().isShown("stillRing"), r.value(0) == u"still");
        if (r.value(0) == u"pulse") {
            QCOMPARE(view().argb("pulseRing", "border.color"), argb(token(r[1])));
            QTRY_VERIFY(view().real("pulseRing", "scale") > 1.02); // growing outward
        } else if (r.value(0) == u"still") {
            QCOMPARE(view().argb("stillRing", "border.color"), argb(withAlpha(token(r[1]), r[2].toDouble())));
            QCOMPARE(view().real("stillRing", "width"), 116 + r[3].toDouble() + 2); // stroke centred on the circle
        }

        const QStringList g = glow.split(u' ');
        QCOMPARE(view().isShown("glow"), g[1].toDouble() > 0);
        QCOMPARE(view().argb("glow"), argb(withAlpha(token(g[0]), g[1].toDouble())));
        QCOMPARE(view().real("glow", "glowRadius"), g[2].toDouble());
        QCOMPARE(view().argb("shadow"), argb(QColor::fromRgbF(0, 0, 0, 0.12f)));

        QTEST(view().value("symbol", "text").toString(), "glyph");
        QCOMPARE(view().argb("symbol"), argb(token(symbolColor)));
        QCOMPARE(view().real("symbol", "font.pixelSize"), 44.0);
        QTEST(button->opacity(), "opacity");
        // Only the waiting symbol pulses, and not with reduced motion.
        if (visual == ConnectButtonVisual::Progress && !reduceMotion)
            QTRY_VERIFY(view().real("symbol", "opacity") < 0.9);
        else
            QCOMPARE(view().real("symbol", "opacity"), 1.0);
    }

    // One click per press while it may act, none otherwise; read by screen readers
    // as a button with the given label and hint, the drawing adding no text.
    void pressesAndAccessibility_data()
    {
        QTest::addColumn<bool>("canInteract");
        QTest::addColumn<int>("clicks");
        QTest::newRow("can interact") << true << 2;
        QTest::newRow("cannot interact") << false << 0;
    }
    void pressesAndAccessibility()
    {
        QFETCH(bool, canInteract);
        QQuickItem *button = view().show(u"ConnectButton"_qs, {{"canInteract", canInteract},
                                                               {"accessibilityLabel", u"Подключиться"_qs},
                                                               {"accessibilityHint", u"Подсказка"_qs}});
        QVERIFY(button);
        QSignalSpy clicked(button, SIGNAL(clicked()));
        const QPoint centre = button->mapToScene(QPointF(78, 78)).toPoint();
        QTest::mouseClick(view().window(), Qt::LeftButton, {}, centre);
        QTest::mouseClick(view().window(), Qt::LeftButton, {}, centre);
        QTEST(int(clicked.count()), "clicks");
        const QAccessibleInterface *a11y = QAccessible::queryAccessibleInterface(button);
        QCOMPARE(a11y->role(), QAccessible::Button);
        QCOMPARE(a11y->text(QAccessible::Name), u"Подключиться"_qs);
        QCOMPARE(a11y->text(QAccessible::Description), u"Подсказка"_qs);
        for (int i = 0; i < a11y->childCount(); ++i)
            QVERIFY(a11y->child(i)->text(QAccessible::Name).isEmpty());
    }

    // A change of visual eases the disc colour, or lands at once with reduced motion.
    void visualChange_data()
    {
        QTest::addColumn<bool>("reduceMotion");
        QTest::newRow("motion") << false;
        QTest::newRow("reduced motion") << true;
    }
    void visualChange()
    {
        QFETCH(bool, reduceMotion);
        view().appearance().setReduceMotion(reduceMotion);
        QQuickItem *button = view().show(u"ConnectButton"_qs, {{"visual", int(ConnectButtonVisual::Failed)}});
        QVERIFY(button);
        button->setProperty("visual", int(ConnectButtonVisual::Progress));
        QCOMPARE(view().argb("discFill") == argb(token(u"warning"_qs)), reduceMotion);
        QTRY_COMPARE(view().argb("discFill"), argb(token(u"warning"_qs)));
    }

    // Off screen (the window hidden, or minimised) the endless animations stand
    // still; they run again once the window is back.
    void stillOffScreen_data()
    {
        QTest::addColumn<QString>("component");
        QTest::addColumn<int>("visual");
        QTest::addColumn<QString>("animated"); // objectName; empty: the root
        QTest::addColumn<QString>("property");
        QTest::addColumn<bool>("minimise");
        using V = ConnectButtonVisual::Value;
        QTest::newRow("ring, hidden") << u"ConnectButton"_qs << int(V::Verified) << u"pulseRing"_qs << u"scale"_qs << false;
        QTest::newRow("symbol, minimised") << u"ConnectButton"_qs << int(V::Progress) << u"symbol"_qs << u"opacity"_qs
                                           << true;
        QTest::newRow("shimmer, minimised") << u"BrandShimmer"_qs << 0 << QString() << u"phase"_qs << true;
    }
    void stillOffScreen()
    {
        QFETCH(QString, component);
        QFETCH(int, visual);
        QFETCH(QString, animated);
        QFETCH(QString, property);
        QFETCH(bool, minimise);
        QQuickItem *root = view().show(component, component == u"ConnectButton" ? QVariantMap{{"visual", visual}}
                                                                                 : QVariantMap{});
        QVERIFY(root);
        QQuickItem *item = animated.isEmpty() ? root : view().find(animated);
        const auto moves = [&] {
            const QVariant before = item->property(property.toLatin1().constData());
            QTest::qWait(120);
            return item->property(property.toLatin1().constData()) != before;
        };
        QTRY_VERIFY(moves());
        QQuickWindow *window = view().window();
        minimise ? window->showMinimized() : window->hide();
        QTRY_VERIFY(!root->property("onScreen").toBool());
        QVERIFY(!moves());
        window->showNormal();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        QTRY_VERIFY(moves());
    }
};

QTEST_MAIN(ConnectButtonTest)
#include "vtst_connect_button.moc"
