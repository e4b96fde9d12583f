#include "ui/design/Brand.h"

#include "support/view/ViewHarness.h"

#include <QGlyphRun>
#include <QQuickWindow>
#include <QTextLayout>
#include <QTest>

using namespace kovra;
using namespace kovra::ui;

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
    // block without a width across the column, one with a width at the leading edge.
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
        QVERIFY(!sameRgb(view().pixel(block, {2, block->height() / 2}), view().brand().background()));
    }
};

QTEST_MAIN(ControlsTest)
#include "vtst_controls.moc"
