#include "ui/design/Brand.h"

#include "support/view/ViewHarness.h"

#include <QAccessible>
#include <QQuickWindow>
#include <QTest>

using namespace kovra;
using namespace kovra::ui;

namespace {

bool near(qreal a, qreal b) { return qAbs(a - b) < 0.002; }

bool sameRgb(const QColor &a, const QColor &b, int tolerance = 3)
{
    return qAbs(a.red() - b.red()) <= tolerance && qAbs(a.green() - b.green()) <= tolerance
        && qAbs(a.blue() - b.blue()) <= tolerance;
}

} // namespace

class ControlsTest : public test::ViewTestCase {
    Q_OBJECT
private Q_SLOTS:
    void button_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<bool>("pressed");
        QTest::addColumn<bool>("gradient");      // filled with the accent gradient
        QTest::addColumn<bool>("border");        // hairline separator border
        QTest::addColumn<bool>("labelIsPrimary"); // label in the text colour, else white
        QTest::addColumn<qreal>("fillOpacity");
        QTest::addColumn<bool>("shadow");
        QTest::addColumn<qreal>("opacity");

        const int primary = ButtonKind::Primary, secondary = ButtonKind::Secondary,
                  destructive = ButtonKind::Destructive;
        QTest::newRow("primary") << primary << true << false << true << false << false << 1.0 << true << 1.0;
        QTest::newRow("primary pressed") << primary << true << true << true << false << false << 0.85 << true << 1.0;
        QTest::newRow("primary disabled") << primary << false << false << true << false << false << 1.0 << false << 0.5;
        QTest::newRow("secondary") << secondary << true << false << false << true << true << 1.0 << false << 1.0;
        QTest::newRow("secondary pressed") << secondary << true << true << false << true << true << 0.7 << false << 1.0;
        QTest::newRow("secondary disabled") << secondary << false << false << false << true << true << 1.0 << false
                                            << 0.5;
        QTest::newRow("destructive") << destructive << true << false << false << false << false << 1.0 << false << 1.0;
        QTest::newRow("destructive pressed") << destructive << true << true << false << false << false << 0.85 << false
                                             << 1.0;
        QTest::newRow("destructive disabled") << destructive << false << false << false << false << false << 1.0
                                              << false << 0.5;
    }
    void button()
    {
        QFETCH(int, kind);
        QFETCH(bool, enabled);
        QFETCH(bool, pressed);
        QFETCH(bool, gradient);
        QFETCH(bool, border);
        QFETCH(bool, labelIsPrimary);
        QFETCH(qreal, fillOpacity);
        QFETCH(bool, shadow);
        QFETCH(qreal, opacity);
        // Motion off, so that the pressed look is there at once.
        view().appearance().setReduceMotion(true);
        QQuickItem *button = view().show(QStringLiteral("BrandButton"),
                                         {{"text", u"Продолжить"_qs}, {"kind", kind}, {"enabled", enabled}});
        QVERIFY(button);
        button->setProperty("down", pressed);
        QVERIFY(view().waitForFrame());

        const Brand &brand = view().brand();
        QCOMPARE(view().isShown("gradient"), gradient);
        QCOMPARE(view().isShown("solid"), !gradient);
        if (!gradient)
            QCOMPARE(view().argb("solid"), test::argb(kind == ButtonKind::Secondary ? brand.surface() : brand.danger()));
        QCOMPARE(view().isShown("border"), border);
        QCOMPARE(view().argb("label"), test::argb(labelIsPrimary ? brand.textPrimary() : brand.onAccent()));
        QCOMPARE(view().real("fill", "opacity"), fillOpacity);
        QCOMPARE(view().isShown("shadow"), shadow);
        if (shadow) {
            QVERIFY(near(view().color("shadow").alphaF(), 0.12));
            QCOMPARE(view().real("shadow", "glowRadius"), 10.0);
            QCOMPARE(view().find("shadow")->y() - view().find("fill")->y(), 4.0);
        }
        QCOMPARE(button->opacity(), opacity);
        QCOMPARE(button->scale(), 1.0); // reduced motion: no shrinking
        // Paddings: 24 each side of the label, 14 above and below.
        QCOMPARE(button->width(), view().find("label")->implicitWidth() + 48);
        QCOMPARE(button->height(), view().find("label")->implicitHeight() + 28);

        // The fill is drawn: the middle of the left padding is not the window's colour,
        // and for the solid kinds it is their fill.
        if (!pressed && enabled) {
            const QColor drawn = view().pixel(button, {12, button->height() / 2});
            QVERIFY(!sameRgb(drawn, brand.background()));
            if (!gradient)
                QVERIFY(sameRgb(drawn, view().color("solid")));
        }
    }

    // With motion on, a press shrinks the button to 0.97 and dims the fill, eased;
    // with reduced motion the fill dims at once and nothing scales.
    void buttonPressMotion_data()
    {
        QTest::addColumn<bool>("reduceMotion");
        QTest::newRow("motion") << false;
        QTest::newRow("reduced motion") << true;
    }
    void buttonPressMotion()
    {
        QFETCH(bool, reduceMotion);
        view().appearance().setReduceMotion(reduceMotion);
        QQuickItem *button = view().show(QStringLiteral("BrandButton"), {{"text", u"Оплатить"_qs}});
        QVERIFY(button);
        button->setProperty("down", true);
        if (reduceMotion) {
            QCOMPARE(view().real("fill", "opacity"), 0.85);
        } else {
            QVERIFY(view().real("fill", "opacity") > 0.85); // still easing
            QTRY_COMPARE(button->scale(), 0.97);
            QTRY_COMPARE(view().real("fill", "opacity"), 0.85);
        }
        QVERIFY(view().waitForFrame());
        QCOMPARE(button->scale(), reduceMotion ? 1.0 : 0.97);
    }

    void buttonWidth()
    {
        QQuickItem *column = view().showQml("ColumnLayout { width: 400\n"
                                            " BrandButton { objectName: \"wide\"; text: \"Оплатить\"; fullWidth: true }\n"
                                            " BrandButton { objectName: \"narrow\"; text: \"Оплатить\" } }");
        QVERIFY(column);
        QCOMPARE(view().real("wide", "width"), 400.0);
        QCOMPARE(view().real("narrow", "width"), qCeil(view().real("narrow", "implicitWidth")));
        QVERIFY(view().real("narrow", "width") < 200);
    }

    // Pill chrome and accent tag: a capsule with a hairline border; the tag's text and
    // its 15 % capsule follow the accent into dark mode together.
    void accentTag()
    {
        QQuickItem *tag = view().show(QStringLiteral("BrandAccentTag"), {{"text", u"Выгоднее всего"_qs}});
        QVERIFY(tag);
        for (bool dark : {false, true}) {
            view().appearance().setDark(dark);
            const QColor accent = view().brand().accent();
            QCOMPARE(view().argb("label"), test::argb(accent));
            QCOMPARE(view().argb("capsule"), test::argb(test::withAlpha(accent, 0.15)));
            QCOMPARE(view().real("capsule", "radius"), tag->height() / 2);
            QCOMPARE(view().real("capsule", "border.width"), 0.5);
        }
        QCOMPARE(tag->width(), view().find("label")->implicitWidth() + 16);
        QCOMPARE(tag->height(), view().find("label")->implicitHeight() + 8);
    }

    void card_data()
    {
        QTest::addColumn<bool>("dark");
        QTest::addColumn<int>("elevation");
        QTest::addColumn<bool>("border");
        QTest::addColumn<bool>("shadow");
        QTest::newRow("light, card") << false << int(Elevation::Card) << false << false;
        QTest::newRow("dark, card") << true << int(Elevation::Card) << true << false;
        QTest::newRow("light, sheet") << false << int(Elevation::Sheet) << false << false;
        QTest::newRow("dark, button") << true << int(Elevation::Button) << true << true;
        QTest::newRow("light, none") << false << int(Elevation::None) << false << false;
    }
    void card()
    {
        QFETCH(bool, dark);
        QFETCH(int, elevation);
        view().appearance().setDark(dark);
        QQuickItem *card = view().showQml("BrandCard { padding: 16; width: 300\n"
                                          " Text { objectName: \"content\"; text: \"Подключение\" } }",
                                          {{"elevation", elevation}});
        QVERIFY(card);
        QTEST(view().isShown("border"), "border");
        QTEST(view().isShown("shadow"), "shadow");
        QCOMPARE(view().argb("panel"), test::argb(view().brand().surface()));
        QCOMPARE(view().real("panel", "radius"), 16.0);
        // Content padded on every edge.
        QQuickItem *content = view().find("content");
        QCOMPARE(content->mapToItem(card, QPointF(0, 0)), QPointF(16, 16));
        QCOMPARE(card->height(), content->height() + 32);
    }

    // Switching the appearance redraws the card (border) without rebuilding it.
    void cardFollowsAppearance()
    {
        QQuickItem *card = view().showQml("BrandCard { width: 200; Item { implicitHeight: 20 } }");
        QVERIFY(card);
        QVERIFY(!view().isShown("border"));
        view().appearance().setDark(true);
        QVERIFY(view().isShown("border"));
        QCOMPARE(view().root(), card);
        QVERIFY(view().waitForFrame());
        QCOMPARE(view().window()->color(), view().brand().background());
    }

    void notice_data()
    {
        QTest::addColumn<int>("tone");
        QTest::addColumn<QString>("systemImage");
        QTest::addColumn<QString>("glyph");
        QTest::newRow("info") << int(NoticeTone::Info) << QString() << u"sync"_qs;
        QTest::newRow("warning") << int(NoticeTone::Warning) << QString() << u"warning"_qs;
        QTest::newRow("danger") << int(NoticeTone::Danger) << QString() << u"report"_qs;
        QTest::newRow("warning with its own symbol") << int(NoticeTone::Warning) << u"hand.raised.fill"_qs
                                                     << u"pan_tool"_qs;
    }
    void notice()
    {
        QFETCH(int, tone);
        QFETCH(QString, systemImage);
        view().appearance().setReduceMotion(true);
        const QString text = u"Не удалось запустить VPN: {x} <b>не</b> разметка"_qs;
        QQuickItem *notice = view().show(QStringLiteral("BrandNotice"), {{"tone", tone},
                                                                         {"text", text},
                                                                         {"systemImage", systemImage},
                                                                         {"width", 420}});
        QVERIFY(notice);
        QTEST(view().value("symbol", "text").toString(), "glyph");
        // The symbol keeps the tone's colour, also when the screen replaces it.
        QCOMPARE(view().argb("symbol"), test::argb(view().brand().toneColors().at(tone).value<QColor>()));
        QCOMPARE(view().value("text", "text").toString(), text); // verbatim
        QCOMPARE(view().argb("text"), test::argb(view().brand().textPrimary()));
        QCOMPARE(view().argb("capsule"), test::argb(view().brand().surface()));
        // Symbol and text are read as one element.
        const QAccessibleInterface *a11y = QAccessible::queryAccessibleInterface(notice);
        QVERIFY(a11y);
        QCOMPARE(a11y->text(QAccessible::Name), text);
        QCOMPARE(a11y->role(), QAccessible::StaticText);
    }

    // A long text wraps and the notice grows in height; hiding it slides it out and
    // then takes no space.
    void noticeGrowsAndHides()
    {
        QQuickItem *notice = view().show(
            QStringLiteral("BrandNotice"),
            {{"text", u"Сервер поднимается примерно за минуту после «Создать» и подключается автоматически."_qs},
             {"width", 260}});
        QVERIFY(notice);
        QTRY_COMPARE(notice->opacity(), 1.0); // slid in
        QVERIFY(view().value("text", "lineCount").toInt() > 1);
        QCOMPARE(notice->height(), view().find("text")->height() + 16);
        notice->setProperty("shown", false);
        QVERIFY(notice->isVisible()); // on its way out
        QTRY_VERIFY(!notice->isVisible());
        view().appearance().setReduceMotion(true);
        notice->setProperty("shown", true);
        QCOMPARE(notice->opacity(), 1.0);
        QVERIFY(notice->isVisible());
    }

    void statusDot_data()
    {
        QTest::addColumn<int>("state");
        QTest::addColumn<bool>("glow");
        for (int s = StatusDotState::Connected; s <= StatusDotState::Inactive; ++s) {
            const QByteArray name = QMetaEnum::fromType<StatusDotState::Value>().valueToKey(s);
            QTest::newRow(name.constData()) << s << false;
            QTest::newRow((name + " glowing").constData()) << s << true;
        }
    }
    void statusDot()
    {
        QFETCH(int, state);
        QFETCH(bool, glow);
        QQuickItem *dot = view().show(QStringLiteral("BrandStatusDot"), {{"dotState", state}, {"size", 10},
                                                                         {"glow", glow}});
        QVERIFY(dot);
        const QColor tone = view().brand().statusColor(StatusDotState::Value(state));
        QCOMPARE(view().argb("disc"), test::argb(tone));
        QCOMPARE(dot->width(), 10.0);
        QCOMPARE(dot->height(), 10.0);
        QCOMPARE(view().isShown("ring"), glow);
        QCOMPARE(view().isShown("glow"), glow);
        if (glow) {
            QCOMPARE(view().argb("ring", "border.color"), test::argb(test::withAlpha(tone, 0.35)));
            // The 6-point stroke is centred on the outline: 3 points beyond the dot's edge.
            QCOMPARE(view().real("ring", "width"), 16.0);
            QCOMPARE(view().real("ring", "border.width"), 6.0);
            QCOMPARE(view().argb("glow"), test::argb(test::withAlpha(tone, 0.5)));
            QCOMPARE(view().real("glow", "glowRadius"), 5.0);
        }
        if (glow)
            return; // the ring and the glow overlap the dot
        // Drawn in its colour (a translucent one over the window's background).
        const QColor bg = view().brand().background();
        const qreal a = tone.alphaF();
        const QColor blended = QColor::fromRgbF(tone.redF() * a + bg.redF() * (1 - a),
                                                tone.greenF() * a + bg.greenF() * (1 - a),
                                                tone.blueF() * a + bg.blueF() * (1 - a));
        QVERIFY(sameRgb(view().pixel(dot, {5, 5}), blended));
    }

    void skeleton_data()
    {
        QTest::addColumn<QByteArray>("props");
        QTest::addColumn<qreal>("width");
        QTest::newRow("no width spans the column") << QByteArray("blockHeight: 16") << 300.0;
        QTest::newRow("120 wide at the leading edge") << QByteArray("blockWidth: 120; blockHeight: 16") << 120.0;
    }
    void skeleton()
    {
        QFETCH(QByteArray, props);
        QFETCH(qreal, width);
        QQuickItem *column = view().showQml("ColumnLayout { width: 300\n SkeletonBlock { objectName: \"skeleton\"; "
                                            + props + " } }");
        QVERIFY(column);
        QQuickItem *block = view().find("block");
        QCOMPARE(block->width(), width);
        QCOMPARE(block->height(), 16.0);
        QCOMPARE(block->mapToItem(column, QPointF(0, 0)).x(), 0.0);
        QCOMPARE(view().argb("block"), test::argb(view().brand().separator()));
        QCOMPARE(view().real("block", "radius"), 6.0);
    }

    void shimmer_data()
    {
        QTest::addColumn<bool>("reduceMotion");
        QTest::newRow("motion") << false;
        QTest::newRow("reduced motion") << true;
    }
    void shimmer()
    {
        QFETCH(bool, reduceMotion);
        view().appearance().setReduceMotion(reduceMotion);
        QQuickItem *shimmer = view().showQml(
            "BrandShimmer { contentItem: ColumnLayout { SkeletonBlock { blockWidth: 140 } SkeletonBlock { blockWidth: 90 } } }");
        QVERIFY(shimmer);
        QCOMPARE(view().isShown("band"), !reduceMotion);
        QCOMPARE(shimmer->property("sweeping").toBool(), !reduceMotion);
        if (reduceMotion) {
            QVERIFY(view().waitForFrame());
            QCOMPARE(shimmer->property("phase").toReal(), 0.0);
        } else {
            QTRY_VERIFY(shimmer->property("phase").toReal() > 0.2);
            // Hidden, the sweep stops and starts again from the left.
            shimmer->setVisible(false);
            QVERIFY(!shimmer->property("sweeping").toBool());
            QCOMPARE(shimmer->property("phase").toReal(), 0.0);
            shimmer->setVisible(true);
            QVERIFY(shimmer->property("sweeping").toBool());
        }
        // The placeholders themselves are drawn either way.
        QQuickItem *first = view().find("block");
        QVERIFY(!sameRgb(view().pixel(first, {2, first->height() / 2}), view().brand().background(), 1));
    }
};

QTEST_MAIN(ControlsTest)
#include "vtst_controls.moc"
