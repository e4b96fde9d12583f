#include <QDir>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

// The gallery, as its own process on the test display, writes a picture of every
// case in both appearances and sees no QML warning (else it exits with 1).
class DesignGalleryTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void writesEveryPicture()
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        if (env.value(QStringLiteral("DISPLAY")).isEmpty())
            QSKIP("no X display (scripts/test provides one)");
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        QTemporaryDir out;
        QProcess gallery;
        gallery.setProcessEnvironment(env);
        gallery.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        gallery.start(qEnvironmentVariable("KOVRA_TOOLS_DIR") + QStringLiteral("/design-gallery/design-gallery"),
                      {QStringLiteral("--out"), out.path()});
        QVERIFY(gallery.waitForFinished(100000));
        QCOMPARE(gallery.exitCode(), 0);

        const QStringList pictures = QDir(out.path()).entryList({QStringLiteral("*.png")});
        QVERIFY(!pictures.isEmpty() && pictures.size() == pictures.filter(QStringLiteral("-dark.png")).size() * 2);
        // Every component in every state: no case dropped on the way.
        const qsizetype light = pictures.filter(QStringLiteral("-light.png")).size();
        QVERIFY2(light >= 50, qPrintable(QString::number(light)));
        // A picture is the case on its backdrop, 24 around it, drawn in its colours.
        const QImage dark(out.filePath(QStringLiteral("connect-failed-dark.png")));
        QCOMPARE(dark.size(), QSize(156 + 48, 156 + 48));
        QVERIFY(dark.pixelColor(dark.width() / 2 - 40, dark.height() / 2).red() > 200); // the red disc
    }
};

QTEST_GUILESS_MAIN(DesignGalleryTest)
#include "itst_design_gallery.moc"
