#include "design-gallery/GalleryRun.h"

#include "ui/account/AccountModule.h"
#include "ui/main/MainModule.h"

#include <QGuiApplication>
#include <QImage>
#include <QQuickWindow>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace kovra;
using namespace kovra::gallery;

namespace {

// Stands in for a loaded machine, where the render thread draws several frames before
// the GUI thread gets to the first: as each case's window comes on screen, three
// frames are announced at once.
class FrameBurst : public QObject {
protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        auto *window = qobject_cast<QQuickWindow *>(watched);
        if (window && event->type() == QEvent::Expose && window->isExposed() && !window->property("burst").toBool()) {
            window->setProperty("burst", true);
            for (int i = 0; i < 3; ++i)
                Q_EMIT window->frameSwapped();
        }
        return QObject::eventFilter(watched, event);
    }
};

} // namespace

class GalleryRunTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        ui::registerAccountModule();
        ui::registerMainModule();
    }

    // Every case gets exactly one picture in each appearance, of itself: frames
    // announced after a case's picture was asked for neither take a second one (which
    // wrote the next case's file with this case's picture and, at the end of the
    // light run, lost a dark picture) nor count for the next case.
    void onePictureOfEachCase()
    {
        const QList<std::pair<QString, QByteArray>> colours{
            {u"red"_qs, "#ff0000"}, {u"green"_qs, "#00ff00"}, {u"blue"_qs, "#0000ff"}};
        QList<GalleryCase> cases;
        for (const auto &[name, colour] : colours)
            cases.append({name, "Rectangle { width: 40; height: 40; color: \"" + colour + "\" }"});
        FrameBurst burst;
        qApp->installEventFilter(&burst);
        QTemporaryDir out;
        GalleryRun run(QDir(out.path()), cases);
        QSignalSpy finished(&run, &GalleryRun::finished);
        run.start();
        QVERIFY(finished.wait(60000));
        QCOMPARE(finished.first().first().toInt(), 0);

        // Named "<case>-<appearance>=<colour at the square>", in the cases' order.
        QStringList seen, expected;
        for (const auto &[name, colour] : colours) {
            for (const char *appearance : {"light", "dark"}) {
                const QString picture = QStringLiteral("%1-%2").arg(name, QLatin1String(appearance));
                const QImage image(out.filePath(picture + QStringLiteral(".png")));
                seen << picture + u'=' + (image.isNull() ? QStringLiteral("missing") : image.pixelColor(44, 44).name());
                expected << picture + u'=' + QString::fromLatin1(colour);
            }
        }
        QCOMPARE(seen, expected);
        QCOMPARE(QDir(out.path()).entryList({u"*.png"_qs}).size(), expected.size());
    }
};

QTEST_MAIN(GalleryRunTest)
#include "vtst_gallery_run.moc"
