#include "ui/design/Brand.h"

#include "support/view/ViewHarness.h"

#include <QAccessible>
#include <QGlyphRun>
#include <QQuickWindow>
#include <QTextLayout>
#include <QTest>

using namespace kovra;
using namespace kovra::ui;
using test::argb;
using test::withAlpha;

namespace {
// Whether some character of `text` has no face to draw it (Qt draws glyph 0, a box).
bool hasMissingGlyph(const QString &text, const QFont &font)
{
    QTextLayout layout(text, font);
    layout.beginLayout();
    layout.createLine();
    layout.endLayout();
    for (const QGlyphRun &run : layout.glyphRuns()) {
        if (run.glyphIndexes().contains(0))
            return true;
    }
    return false;
}

bool sameRgb(const QColor &a, const QColor &b)
{
    return qAbs(a.red() - b.red()) <= 3 && qAbs(a.green() - b.green()) <= 3 && qAbs(a.blue() - b.blue()) <= 3;
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
        QTest::addColumn<QString>("fill");   // "gradient", or the token of a solid fill
        QTest::addColumn<bool>("border");
        QTest::addColumn<QString>("label");  // token of the label colour
        QTest::addColumn<qreal>("fillOpacity");
        QTest::addColumn<bool>("shadow");
        QTest::addColumn<qreal>("opacity");
        const int p = ButtonKind::Primary, s = ButtonKind::Secondary, d = ButtonKind::Destructive;
        QTest::newRow("primary") << p << true << false << "gradient" << false << "onAccent" << 1.0 << true << 1.0;
        QTest::newRow("primary pressed") << p << true << true << "gradient" << false << "onAccent" << 0.85 << true << 1.0;
        QTest::newRow("primary disabled") << p << false << false << "gradient" << false << "onAccent" << 1.0 << false
                                          << 0.5;
        QTest::newRow("secondary") << s << true << false << "surface" << true << "textPrimary" << 1.0 << false << 1.0;
        QTest::newRow("secondary pressed") << s << true << true << "surface" << true << "textPrimary" << 0.7 << false
                                           << 1.0;
        QTest::newRow("destructive pressed") << d << true << true << "danger" << false << "onAccent" << 0.85 << false
                                             << 1.0;
    }
    void button()
    {
        QFETCH(int, kind);
        QFETCH(bool, enabled);
        QFETCH(bool, pressed);
        QFETCH(QString, fill);
        QFETCH(QString, label);
        QFETCH(bool, shadow);
        view().appearance().setReduceMotion(true); // the pressed look at once
        QQuickItem *button = view().show(u"BrandButton"_qs, {{"text", u"Продолжить"_qs}, {"kind", kind},
                                                             {"enabled", enabled}, {"down", pressed}});
        QVERIFY(button);
        const Brand &brand = view().brand();
        QCOMPARE(view().isShown("gradient"), fill == u"gradient");
        if (fill != u"gradient")
            QCOMPARE(view().argb("solid"), argb(brand.property(fill.toLatin1().constData()).value<QColor>()));
        QTEST(view().isShown("border"), "border");
        QCOMPARE(view().argb("label"), argb(brand.property(label.toLatin1().constData()).value<QColor>()));
        QTEST(view().real("fill", "opacity"), "fillOpacity");
        QCOMPARE(view().isShown("shadow"), shadow);
        if (shadow) {
            QCOMPARE(view().argb("shadow"), argb(QColor::fromRgbF(0, 0, 0, 0.12f)));
            QCOMPARE(view().real("shadow", "glowRadius"), 10.0);
            QCOMPARE(view().find("shadow")->y() - view().find("fill")->y(), 4.0);
        }
        QTEST(button->opacity(), "opacity");
        QCOMPARE(button->scale(), 1.0);
        // 24 beside the label, 14 above and below.
        QCOMPARE(button->width(), view().find("label")->implicitWidth() + 48);
        QCOMPARE(button->height(), view().find("label")->implicitHeight() + 28);
        // The fill is really drawn (left padding, halfway down).
        if (!pressed && enabled)
            QVERIFY(!sameRgb(view().pixel(button, {12, button->height() / 2}), brand.background()));
    }

    // With motion a press eases the button to 0.97 and the fill to 0.85; with reduced
    // motion the fill dims at once and nothing scales. Full width fills the column.
    void buttonPressAndWidth_data()
    {
        QTest::addColumn<bool>("reduceMotion");
        QTest::newRow("motion") << false;
        QTest::newRow("reduced motion") << true;
    }
    void buttonPressAndWidth()
    {
        QFETCH(bool, reduceMotion);
        view().appearance().setReduceMotion(reduceMotion);
        QVERIFY(view().showQml("ColumnLayout { width: 400\n"
                               " BrandButton { objectName: \"wide\"; text: \"Оплатить\"; fullWidth: true }\n"
                               " BrandButton { objectName: \"narrow\"; text: \"Оплатить\" } }"));
        QCOMPARE(view().real("wide", "width"), 400.0);
        QVERIFY(view().real("narrow", "width") < 200);
        QQuickItem *button = view().find("wide");
        button->setProperty("down", true);
        QCOMPARE(view().real("fill", "opacity") == 0.85, reduceMotion);
        QTRY_COMPARE(view().real("fill", "opacity"), 0.85);
        QTRY_COMPARE(button->scale(), reduceMotion ? 1.0 : 0.97);
        QVERIFY(view().waitForFrame());
        QCOMPARE(button->scale(), reduceMotion ? 1.0 : 0.97);
    }

    // The border only in dark mode (also after a live switch); only the Button
    // elevation casts a shadow; content padded on every edge.
    void card_data()
    {
        QTest::addColumn<int>("elevation");
        QTest::addColumn<bool>("shadow");
        QTest::newRow("card") << int(Elevation::Card) << false;
        QTest::newRow("sheet") << int(Elevation::Sheet) << false;
        QTest::newRow("button") << int(Elevation::Button) << true;
    }
    void card()
    {
        QFETCH(int, elevation);
        QQuickItem *card = view().showQml("BrandCard { padding: 16; width: 300\n"
                                          " Text { objectName: \"content\"; text: \"Подключение\" } }",
                                          {{"elevation", elevation}});
        QVERIFY(card);
        QTEST(view().isShown("shadow"), "shadow");
        QCOMPARE(view().argb("panel"), argb(view().brand().surface()));
        QCOMPARE(view().find("content")->mapToItem(card, QPointF(0, 0)), QPointF(16, 16));
        QCOMPARE(card->height(), view().find("content")->height() + 32);
        QVERIFY(!view().isShown("border"));
        view().appearance().setDark(true);
        QVERIFY(view().isShown("border"));
        QCOMPARE(view().real("border", "border.width"), 0.5);
        QCOMPARE(view().argb("panel"), argb(view().brand().surface())); // the dark surface
    }

    void notice_data()
    {
        QTest::addColumn<int>("tone");
        QTest::addColumn<QString>("systemImage");
        QTest::addColumn<QString>("glyph");
        QTest::newRow("warning") << int(NoticeTone::Warning) << QString() << u"warning"_qs;
        QTest::newRow("own symbol") << int(NoticeTone::Warning) << u"hand.raised.fill"_qs << u"pan_tool"_qs;
    }
    void notice()
    {
        QFETCH(int, tone);
        QFETCH(QString, systemImage);
        view().appearance().setReduceMotion(true);
        const QString text = u"Не удалось запустить VPN: <b>не</b> разметка"_qs;
        QQuickItem *notice = view().show(u"BrandNotice"_qs,
                                         {{"tone", tone}, {"text", text}, {"systemImage", systemImage}, {"width", 420}});
        QVERIFY(notice);
        QTEST(view().value("symbol", "text").toString(), "glyph");
        // The symbol keeps the tone's colour, also when the screen replaces it.
        QCOMPARE(view().argb("symbol"), argb(view().brand().toneColor(NoticeTone::Value(tone))));
        QCOMPARE(view().value("text", "text").toString(), text);
        QCOMPARE(view().value("text", "textFormat").toInt(), int(Qt::PlainText));
        const QAccessibleInterface *a11y = QAccessible::queryAccessibleInterface(notice);
        QCOMPARE(a11y->role(), QAccessible::StaticText);
        QCOMPARE(a11y->text(QAccessible::Name), text); // symbol and text read as one
    }

    // A long text wraps and the notice grows; hidden, it slides out and then takes no
    // space; with reduced motion it comes back at once.
    void noticeGrowsAndHides()
    {
        QQuickItem *notice = view().show(u"BrandNotice"_qs, {{"text", u"Сервер поднимается примерно за минуту "
                                                                      "после «Создать» и подключается сам."_qs},
                                                             {"width", 260}});
        QVERIFY(notice);
        QTRY_COMPARE(notice->opacity(), 1.0);
        QVERIFY(view().value("text", "lineCount").toInt() > 1);
        QCOMPARE(notice->height(), view().find("text")->height() + 16);
        notice->setProperty("shown", false);
        QVERIFY(notice->isVisible());
        QTRY_VERIFY(!notice->isVisible());
        view().appearance().setReduceMotion(true);
        notice->setProperty("shown", true);
        QVERIFY(notice->isVisible());
        QCOMPARE(notice->opacity(), 1.0);
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
        QQuickItem *dot = view().show(u"BrandStatusDot"_qs, {{"dotState", state}, {"size", 10}, {"glow", glow}});
        QVERIFY(dot);
        const QColor tone = view().brand().statusColor(StatusDotState::Value(state));
        QCOMPARE(view().argb("disc"), argb(tone));
        QCOMPARE(dot->width(), 10.0);
        QCOMPARE(view().isShown("ring"), glow);
        QCOMPARE(view().isShown("glow"), glow);
        if (glow) {
            // A 6-point stroke centred on the outline reaches 3 points beyond the dot.
            QCOMPARE(view().argb("ring", "border.color"), argb(withAlpha(tone, 0.35)));
            QCOMPARE(view().real("ring", "width"), 16.0);
            QCOMPARE(view().real("ring", "border.width"), 6.0);
            QCOMPARE(view().argb("glow"), argb(withAlpha(tone, 0.5)));
            QCOMPARE(view().real("glow", "glowRadius"), 5.0);
        } else if (tone.alpha() == 255) {
            QVERIFY(sameRgb(view().pixel(dot, {5, 5}), tone));
        }
    }

    // Flags draw in colour; the automatic route's "⚡" draws as a plain glyph in the text
    // colour (never a colour emoji, never a missing-glyph box), in both appearances and
    // in the bold style of emphasised rows; a label without a flag draws no colour.
    void flagLabel_data()
    {
        QTest::addColumn<QString>("flags");
        QTest::addColumn<QString>("label");
        QTest::addColumn<bool>("bold");
        QTest::addColumn<bool>("colour");
        for (const char *scheme : {"light", "dark"}) {
            QTest::addRow("automatic %s", scheme) << u"⚡"_qs << u"Авто"_qs << false << false;
            QTest::addRow("relay %s", scheme) << u"🇷🇺 → 🇳🇱"_qs << u"РФ-1 → Амстердам"_qs << false << true;
        }
        QTest::newRow("automatic bold") << u"⚡"_qs << u"Авто"_qs << true << false;
        QTest::newRow("no flag") << QString() << u"Амстердам"_qs << false << false;
    }
    void flagLabel()
    {
        QFETCH(QString, flags);
        QFETCH(QString, label);
        QFETCH(bool, bold);
        const QFont font = bold ? view().brand().headlineFont() : view().brand().bodyFont();
        QQuickItem *item = view().show(u"FlagLabel"_qs, {{"flags", flags}, {"label", label}, {"font", font}});
        QVERIFY(item);
        QTEST(test::ViewHarness::drawsColour(view().grab(), item), "colour");
        QVERIFY(!hasMissingGlyph(item->property("text").toString(), item->property("font").value<QFont>()));
        QVERIFY(!view().saveScreenshot(u"flag"_qs).isEmpty());
    }

    // No band and no motion with reduced motion; otherwise the band sweeps, and
    // restarts from the left after being hidden. The placeholders show either way, a
    // block without a width across the column, one with a width at the leading edge,
    // both in the separator colour.
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
        QQuickItem *shimmer = view().showQml("BrandShimmer { width: 300; contentItem: ColumnLayout {\n"
                                             " SkeletonBlock { blockWidth: 140 } SkeletonBlock { objectName: \"wide\"; blockHeight: 12 } } }");
        QVERIFY(shimmer);
        QCOMPARE(view().isShown("band"), !reduceMotion);
        QCOMPARE(shimmer->property("sweeping").toBool(), !reduceMotion);
        if (!reduceMotion) {
            QTRY_VERIFY(shimmer->property("phase").toReal() > 0.2);
            shimmer->setVisible(false);
            QCOMPARE(shimmer->property("phase").toReal(), 0.0);
            shimmer->setVisible(true);
            QVERIFY(shimmer->property("sweeping").toBool());
        }
        QQuickItem *block = view().find("block");
        QCOMPARE(block->width(), 140.0);
        QCOMPARE(block->mapToItem(shimmer, QPointF(0, 0)).x(), 0.0);
        QCOMPARE(view().find("wide")->size(), QSizeF(300, 12));
        QCOMPARE(view().argb("block"), argb(view().brand().separator()));
        QVERIFY(!sameRgb(view().pixel(block, {2, block->height() / 2}), view().brand().background()));
    }
};

QTEST_MAIN(ControlsTest)
#include "vtst_controls.moc"
