#include "account/TelegramLink.h"

#include <QTest>

#include "support/Await.h"
#include "support/RecordingUrlOpener.h"

using namespace kovra;
using namespace kovra::test;
using namespace Qt::StringLiterals;

class TelegramLinkTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // The deep link first, only for "tg"/"telegram" as written; the web link only for
    // "https" as written, and only when the deep link was not opened.
    void theDeepLinkFirstThenOnlyAnHttpsLink_data()
    {
        QTest::addColumn<QString>("deep");
        QTest::addColumn<QString>("web");
        QTest::addColumn<QStringList>("refused");
        QTest::addColumn<QStringList>("asked");
        QTest::addColumn<bool>("opened");
        const QString tg = u"tg://resolve?domain=kovra_bot&start=n1"_s;
        const QString web = u"https://t.me/kovra_bot?start=n1"_s;
        QTest::newRow("tg opened") << tg << web << QStringList() << QStringList{tg} << true;
        QTest::newRow("telegram opened") << u"telegram://resolve?domain=b"_s << web << QStringList()
                                         << QStringList{u"telegram://resolve?domain=b"_s} << true;
        QTest::newRow("no tg handler: web") << tg << web << QStringList{u"tg"_s} << QStringList{tg, web} << true;
        QTest::newRow("upper-case scheme is no deep link") << u"TG://resolve?domain=b"_s << web << QStringList()
                                                           << QStringList{web} << true;
        QTest::newRow("other scheme") << u"https://t.me/b"_s << web << QStringList() << QStringList{web} << true;
        QTest::newRow("unparsable deep link") << u"tg://res olve"_s << web << QStringList() << QStringList{web} << true;
        QTest::newRow("http fallback never opened") << tg << u"http://t.me/b"_s << QStringList{u"tg"_s}
                                                    << QStringList{tg} << false;
        QTest::newRow("upper-case HTTPS never opened") << u""_s << u"HTTPS://t.me/b"_s << QStringList()
                                                       << QStringList() << false;
        QTest::newRow("web refused") << u""_s << web << QStringList{u"https"_s} << QStringList{web} << false;
    }
    void theDeepLinkFirstThenOnlyAnHttpsLink()
    {
        QFETCH(QString, deep);
        QFETCH(QString, web);
        QFETCH(QStringList, refused);
        QFETCH(QStringList, asked);
        QFETCH(bool, opened);
        auto opener = std::make_shared<RecordingUrlOpener>(refused);
        QCOMPARE(await(openTelegramLink(opener, deep, web)), opened);
        QCOMPARE(opener->askedTexts(), asked);
    }
};

QTEST_GUILESS_MAIN(TelegramLinkTest)
#include "tst_telegram_link.moc"
