#include "support/view/ViewHarness.h"

#include <QGuiApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

// Set in the child process that runs the failing view test.
constexpr char kChild[] = "KOVRA_VIEW_HARNESS_CHILD";

} // namespace

// Fails on purpose: a view whose QML does not load.
class BrokenViewTest : public kovra::test::ViewTestCase {
    Q_OBJECT
private Q_SLOTS:
    void brokenView() { QVERIFY(view().showQml("Item { width: 10; noSuchProperty: 1 }")); }
};

class ViewHarnessTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // A view that fails to load fails its test with the QML error in the report: the
    // harness takes no screenshot of a window that was never shown, and does not crash.
    void failedLoadIsReported()
    {
        QTemporaryDir screenshots;
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QString::fromLatin1(kChild), u"1"_s);
        env.insert(u"KOVRA_SCREENSHOTS"_s, screenshots.path());
        child.setProcessEnvironment(env);
        child.setProcessChannelMode(QProcess::MergedChannels);
        child.start(QCoreApplication::applicationFilePath(), {u"brokenView"_s});
        QVERIFY(child.waitForFinished(60000));
        const QString out = QString::fromUtf8(child.readAll());
        QVERIFY2(child.exitStatus() == QProcess::NormalExit && !out.contains(u"Sanitizer"_s), qPrintable(out));
        QVERIFY2(out.contains(u"Cannot assign to non-existent property \"noSuchProperty\""_s), qPrintable(out));
        QVERIFY2(out.contains(u" 1 failed,"_s), qPrintable(out));
        QVERIFY(QDir(screenshots.path()).isEmpty());
    }
};

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    if (qEnvironmentVariableIsSet(kChild)) {
        BrokenViewTest test;
        return QTest::qExec(&test, argc, argv);
    }
    ViewHarnessTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "vtst_view_harness.moc"
