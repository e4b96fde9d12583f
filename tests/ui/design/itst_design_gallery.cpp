#include <QDir>
#include <QImage>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

// The gallery, as its own process on the test display, renders every case in both
// appearances without a QML warning.
class DesignGalleryTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void writesEveryPicture()
    {
        QTemporaryDir out;
        QProcess gallery;
        gallery.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        if (env.value(QStringLiteral("DISPLAY")).isEmpty())
            QSKIP("no X display (scripts/test provides one)");
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        gallery.setProcessEnvironment(env);
        gallery.start(qEnvironmentVariable("KOVRA_TOOLS_DIR") + QStringLiteral("/design-gallery/design-gallery"),
                      {QStringLiteral("--out"), out.path()});
        QVERIFY(gallery.waitForFinished(100000));
        QCOMPARE(gallery.exitStatus(), QProcess::NormalExit);
        QCOMPARE(gallery.exitCode(), 0);

        const QStringList pictures = QDir(out.path()).entryList({QStringLiteral("*.png")}, QDir::Files);
        const QStringList light = pictures.filter(QStringLiteral("-light.png"));
        QVERIFY(light.size() >= 50);
        QCOMPARE(pictures.size(), light.size() * 2);
        for (const QString &name : {u"connect-verified"_qs, u"button-primary-disabled"_qs, u"provider-gcp"_qs,
                                    u"status-dot-danger-glow"_qs, u"modal-chrome"_qs}) {
            for (const char *look : {"light", "dark"}) {
                const QImage image(out.filePath(name + u'-' + QLatin1String(look) + u".png"_qs));
                QVERIFY2(!image.isNull(), qPrintable(name));
                // Not a blank picture: the corner (backdrop) and the middle differ somewhere.
                bool varied = false;
                const QRgb corner = image.pixel(0, 0);
                for (int y = 0; y < image.height() && !varied; y += 3)
                    for (int x = 0; x < image.width() && !varied; x += 3)
                        varied = image.pixel(x, y) != corner;
                QVERIFY2(varied, qPrintable(name));
            }
        }
    }
};

QTEST_GUILESS_MAIN(DesignGalleryTest)
#include "itst_design_gallery.moc"
