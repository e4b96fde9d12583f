#include "ui/design/Brand.h"

#include "support/view/ViewHarness.h"

#include <QAccessible>
#include <QQuickWindow>
#include <QSignalSpy>
#include <QTest>

using namespace kovra;
using namespace kovra::ui;

namespace {

bool nearColor(const QColor &a, const QColor &b)
{
    return qAbs(a.redF() - b.redF()) < 0.01 && qAbs(a.greenF() - b.greenF()) < 0.01
        && qAbs(a.blueF() - b.blueF()) < 0.01 && qAbs(a.alphaF() - b.alphaF()) < 0.01;
}

} // namespace

class ConnectButtonTest : public test::ViewTestCase {
    Q_OBJECT

    QColor token(const QByteArray &name) { return view().brand().property(name.constData()).value<QColor>(); }

private Q_SLOTS:
    void visuals_data()
    {
        QTest::addColumn<int>("visual");
        QTest::addColumn<bool>("canInteract");
        QTest::addColumn<bool>("reduceMotion");
        QTest::addColumn<QByteArray>("disc");      // token of the disc; empty: the accent gradient
        QTest::addColumn<QByteArray>("ring");      // token of the ring; empty: no ring
        QTest::addColumn<bool>("pulsing");         // the ring pulses
        QTest::addColumn<qreal>("ringOpacity");    // of a still ring
        QTest::addColumn<qreal>("ringSize");       // of a still ring, over the diameter
        QTest::addColumn<QByteArray>("glow");
        QTest::addColumn<qreal>("glowOpacity");
        QTest::addColumn<qreal>("glowRadius");
        QTest::addColumn<QString>("glyph");
        QTest::addColumn<bool>("symbolDimmed");    // secondary text colour instead of white
        QTest::addColumn<qreal>("opacity");

        using V = ConnectButtonVisual::Value;
        QTest::newRow("idle") << int(V::Idle) << true << false << QByteArray() << QByteArray() << false << 0.0 << 0.0
                              << QByteArray("accent") << 0.3 << 22.0 << u"power_settings_new"_qs << false << 1.0;
        QTest::newRow("idle, no interaction") << int(V::Idle) << false << false << QByteArray("systemGray")
                                              << QByteArray() << false << 0.0 << 0.0 << QByteArray("accent") << 0.0
                                              << 22.0 << u"power_settings_new"_qs << true << 0.45;
        QTest::newRow("progress") << int(V::Progress) << true << false << QByteArray("warning")
                                  << QByteArray("warning") << true << 0.0 << 0.0 << QByteArray("warning") << 0.3
                                  << 22.0 << u"more_horiz"_qs << false << 1.0;
        QTest::newRow("progress, reduced motion") << int(V::Progress) << true << true << QByteArray("warning")
                                                  << QByteArray("warning") << false << 0.45 << 18.0
                                                  << QByteArray("warning") << 0.3 << 22.0 << u"more_horiz"_qs
                                                  << false << 1.0;
        QTest::newRow("checking") << int(V::ConnectedChecking) << true << false << QByteArray("mintSoft")
                                  << QByteArray("mint") << false << 0.3 << 14.0 << QByteArray("mint") << 0.18
                                  << 22.0 << u"bolt"_qs << false << 1.0;
        QTest::newRow("verified") << int(V::Verified) << true << false << QByteArray("success")
                                  << QByteArray("mint") << true << 0.0 << 0.0 << QByteArray("mint") << 0.45
                                  << 26.0 << u"bolt"_qs << false << 1.0;
        QTest::newRow("verified, reduced motion") << int(V::Verified) << true << true << QByteArray("success")
                                                  << QByteArray("mint") << false << 0.45 << 18.0
                                                  << QByteArray("mint") << 0.45 << 26.0 << u"bolt"_qs << false
                                                  << 1.0;
        QTest::newRow("failed") << int(V::Failed) << true << false << QByteArray("danger") << QByteArray("danger")
                                << false << 0.3 << 14.0 << QByteArray("danger") << 0.3 << 22.0 << u"bolt"_qs
                                << false << 1.0;
    }
    void visuals()
    {
        QFETCH(int, visual);
        QFETCH(bool, canInteract);
        QFETCH(bool, reduceMotion);
        QFETCH(QByteArray, disc);
        QFETCH(QByteArray, ring);
        QFETCH(bool, pulsing);
        QFETCH(qreal, ringOpacity);
        QFETCH(qreal, ringSize);
        QFETCH(QByteArray, glow);
        QFETCH(qreal, glowOpacity);
        QFETCH(qreal, glowRadius);
        QFETCH(bool, symbolDimmed);
        QFETCH(qreal, opacity);
        view().appearance().setReduceMotion(reduceMotion);
        QQuickItem *button = view().show(QStringLiteral("ConnectButton"),
                                         {{"visual", visual}, {"canInteract", canInteract},
                                          {"accessibilityLabel", u"Отключено"_qs}});
        QVERIFY(button);
        QCOMPARE(button->width(), 156.0);
        QCOMPARE(button->height(), 156.0);
        QCOMPARE(view().real("discFill", "width"), 116.0);

        QCOMPARE(view().isShown("discGradient"), disc.isEmpty());
        QCOMPARE(view().isShown("discFill"), !disc.isEmpty());
        if (!disc.isEmpty())
            QCOMPARE(view().argb("discFill"), test::argb(token(disc)));

        QCOMPARE(view().isShown("pulseRing"), pulsing);
        QCOMPARE(view().isShown("stillRing"), !ring.isEmpty() && !pulsing);
        if (pulsing) {
            QCOMPARE(view().argb("pulseRing", "border.color"), test::argb(token(ring)));
            QTRY_VERIFY(view().real("pulseRing", "scale") > 1.02); // growing outward
        } else if (!ring.isEmpty()) {
            QCOMPARE(view().argb("stillRing", "border.color"), test::argb(test::withAlpha(token(ring), ringOpacity)));
            // The 2-point stroke is centred on a circle of diameter + ringSize.
            QCOMPARE(view().real("stillRing", "width"), 116 + ringSize + 2);
        }

        QCOMPARE(view().isShown("glow"), glowOpacity > 0);
        QVERIFY(nearColor(view().color("glow"), test::withAlpha(token(glow), glowOpacity)));
        QCOMPARE(view().real("glow", "glowRadius"), glowRadius);
        QVERIFY(view().isShown("shadow"));
        QVERIFY(nearColor(view().color("shadow"), QColor::fromRgbF(0, 0, 0, 0.12f)));

        QTEST(view().value("symbol", "text").toString(), "glyph");
        QCOMPARE(view().argb("symbol"), test::argb(symbolDimmed ? token("textSecondary") : token("onAccent")));
        QCOMPARE(view().real("symbol", "font.pixelSize"), 44.0);
        QCOMPARE(button->opacity(), opacity);
        // Only the waiting symbol pulses, and not with reduced motion.
        if (visual == ConnectButtonVisual::Progress && !reduceMotion)
            QTRY_VERIFY(view().real("symbol", "opacity") < 0.9);
        else
            QCOMPARE(view().real("symbol", "opacity"), 1.0);
    }

    // One click per press while interaction is allowed; none otherwise. Read by
    // screen readers as a button with the given label and hint, nothing else.
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
        QQuickItem *button = view().show(QStringLiteral("ConnectButton"),
                                         {{"canInteract", canInteract},
                                          {"accessibilityLabel", u"Подключиться"_qs},
                                          {"accessibilityHint", u"Подсказка"_qs}});
        QVERIFY(button);
        QSignalSpy clicked(button, SIGNAL(clicked()));
        const QPoint centre = button->mapToScene(QPointF(78, 78)).toPoint();
        QTest::mouseClick(view().window(), Qt::LeftButton, {}, centre);
        QTest::mouseClick(view().window(), Qt::LeftButton, {}, centre);
        QTEST(int(clicked.count()), "clicks");

        const QAccessibleInterface *a11y = QAccessible::queryAccessibleInterface(button);
        QVERIFY(a11y);
        QCOMPARE(a11y->role(), QAccessible::Button);
        QCOMPARE(a11y->text(QAccessible::Name), u"Подключиться"_qs);
        QCOMPARE(a11y->text(QAccessible::Description), u"Подсказка"_qs);
        for (int i = 0; i < a11y->childCount(); ++i)
            QVERIFY2(a11y->child(i)->text(QAccessible::Name).isEmpty(), "the drawing adds no text");
    }

    // A change of visual eases the disc's colour over 0.35 s, or lands at once with
    // reduced motion.
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
        QQuickItem *button = view().show(QStringLiteral("ConnectButton"),
                                         {{"visual", int(ConnectButtonVisual::Failed)}});
        QVERIFY(button);
        button->setProperty("visual", int(ConnectButtonVisual::Progress));
        const QColor warning = token("warning");
        QCOMPARE(view().color("discFill") == warning, reduceMotion);
        QTRY_COMPARE(view().color("discFill"), warning);
        QCOMPARE(view().isShown("pulseRing"), !reduceMotion);
        QCOMPARE(view().isShown("stillRing"), reduceMotion);
    }

    // Pixels: the disc is drawn in its colour and the symbol in white on it, in both
    // appearances.
    void drawn()
    {
        for (bool dark : {false, true}) {
            view().appearance().setDark(dark);
            QQuickItem *button = view().show(QStringLiteral("ConnectButton"),
                                             {{"visual", int(ConnectButtonVisual::Failed)}});
            QVERIFY(button);
            const QColor disc = view().pixel(button, {78 - 40, 78});
            QVERIFY2(qAbs(disc.red() - token("danger").red()) < 4 && qAbs(disc.green() - token("danger").green()) < 4,
                     qPrintable(disc.name()));
            QVERIFY(view().pixel(button, {78, 78}).lightness() > 200 || view().pixel(button, {78, 70}).lightness() > 200);
        }
    }
};

QTEST_MAIN(ConnectButtonTest)
#include "vtst_connect_button.moc"
