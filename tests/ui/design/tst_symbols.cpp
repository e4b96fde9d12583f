#include "ui/design/Symbols.h"
#include "ui/design/Texts.h"

#include "platform/Log.h"

#include <QTest>
#include <QTextLayout>

using namespace kovra;
using namespace kovra::ui;

namespace {

// Glyphs the icon font shapes a text into: one for a known ligature, one a letter otherwise.
int glyphCount(const QString &text)
{
    QFont font(Symbols::fontFamily());
    font.setPixelSize(24);
    QTextLayout layout(text, font);
    layout.beginLayout();
    layout.createLine();
    layout.endLayout();
    int n = 0;
    for (const QGlyphRun &run : layout.glyphRuns())
        n += int(run.glyphIndexes().size());
    return n;
}

} // namespace

class SymbolsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Every symbol the screens name draws as one icon, never as spelled-out letters.
    void everySymbolIsOneGlyph()
    {
        QVERIFY(glyphCount(QStringLiteral("not_an_icon")) > 1);
        for (const QString &name : Symbols::names())
            QVERIFY2(glyphCount(Symbols::ligature(name)) == 1, qPrintable(name));
    }

    void unknownSymbolDrawsNothing()
    {
        LogCapture log;
        QCOMPARE(Symbols().glyph(QStringLiteral("bolt.fil")), QString());
        QCOMPARE(log.texts(QStringLiteral("Design")), QStringList{QStringLiteral("unknown symbol: bolt.fil")});
    }

    void mergedTitle_data()
    {
        QTest::addColumn<QString>("flags");
        QTest::addColumn<QString>("label");
        QTest::addColumn<QString>("title");
        QTest::newRow("one flag") << u"🇩🇪"_qs << u"Франкфурт"_qs << u"🇩🇪 Франкфурт"_qs;
        QTest::newRow("route, parts trimmed") << u" 🇷🇺 →  🇳🇱 "_qs << u"Москва  → Амстердам"_qs
                                              << u"🇷🇺 Москва → 🇳🇱 Амстердам"_qs;
        QTest::newRow("counts differ") << u"🇳🇱"_qs << u"Москва → Амстердам"_qs << u"🇳🇱 Москва → Амстердам"_qs;
        QTest::newRow("no flags, counts differ") << QString() << u"Москва → Амстердам"_qs
                                                 << u"Москва → Амстердам"_qs;
        // One part each with an empty flag: the name without a leading space.
        QTest::newRow("no flags") << QString() << u"Авто"_qs << u"Авто"_qs;
        QTest::newRow("a pair without its flag") << u"🇷🇺 → "_qs << u"Москва → Амстердам"_qs
                                                 << u"🇷🇺 Москва → Амстердам"_qs;
    }
    void mergedTitle()
    {
        QFETCH(QString, flags);
        QFETCH(QString, label);
        QTEST(mergedFlagTitle(flags, label), "title");
    }
};

QTEST_MAIN(SymbolsTest)
#include "tst_symbols.moc"
