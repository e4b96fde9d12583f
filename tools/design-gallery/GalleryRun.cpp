#include "GalleryRun.h"

#include "ui/design/DesignModule.h"

#include <QQuickItem>
#include <QQuickWindow>
#include <QTimer>

#include <cstdio>

namespace kovra::gallery {

GalleryRun::GalleryRun(QDir out, QList<GalleryCase> cases, QObject *parent)
    : QObject(parent), m_out(std::move(out)), m_cases(std::move(cases))
{
    m_warnings.watch(m_engine);
    ui::prepareEngine(m_engine, &m_appearance);
    m_host = std::make_unique<ui::PreviewHost>(m_engine);
}

void GalleryRun::start()
{
    QTimer::singleShot(0, this, &GalleryRun::next);
}

void GalleryRun::next()
{
    disconnect(m_frames);
    const qsizetype total = m_cases.size() * 2;
    if (m_index >= total) {
        m_host.reset();
        m_caseData.reset();
        const QStringList warnings = m_warnings.take();
        for (const QString &w : warnings)
            fprintf(stderr, "design-gallery: QML warning: %s\n", qPrintable(w));
        if (m_written != total)
            fail(QStringLiteral("%1 of %2 pictures written").arg(m_written).arg(total));
        printf("design-gallery: %d pictures in %s\n", m_written, qPrintable(m_out.absolutePath()));
        Q_EMIT finished(m_failed || !warnings.isEmpty() ? 1 : 0);
        return;
    }
    const GalleryCase &c = m_cases[m_index % m_cases.size()];
    m_appearance.setDark(m_index >= m_cases.size());
    // The previous picture's data goes once its item has been replaced.
    auto data = std::make_unique<QObject>();
    const QVariantMap properties = c.properties ? c.properties(data.get()) : QVariantMap();
    const QString error = m_host->loadSource(galleryImports() + c.qml, properties);
    m_caseData = std::move(data);
    if (!error.isEmpty()) {
        fail(QStringLiteral("%1: %2").arg(c.name, error));
        ++m_index;
        QTimer::singleShot(0, this, &GalleryRun::next);
        return;
    }
    m_framesSeen = 0;
    // A frame is announced from the render thread and counted here later; on a busy
    // machine several are queued at once, and disconnecting does not withdraw those
    // already queued. Each is counted for the case that was shown when it was drawn.
    m_frames = connect(m_host->window(), &QQuickWindow::frameSwapped, this,
                       [this, index = m_index] { onFrame(index); }, Qt::QueuedConnection);
    m_host->window()->show();
}

void GalleryRun::onFrame(qsizetype index)
{
    if (index != m_index || m_framesSeen >= 2)
        return;
    // The second frame has every image and layer in place.
    if (++m_framesSeen < 2) {
        m_host->window()->update();
        return;
    }
    disconnect(m_frames);
    ui::PreviewHost::keepGraphicsDriverLoaded();
    QTimer::singleShot(m_cases[m_index % m_cases.size()].settleMs, this, &GalleryRun::capture);
}

void GalleryRun::capture()
{
    const GalleryCase &c = m_cases[m_index % m_cases.size()];
    const QString file = m_out.filePath(
        QStringLiteral("%1-%2.png").arg(c.name, m_appearance.isDark() ? QStringLiteral("dark") : QStringLiteral("light")));
    const QImage image = m_host->window()->grabWindow();
    if (image.isNull() || !image.save(file))
        fail(QStringLiteral("could not write %1").arg(file));
    else
        ++m_written;
    ++m_index;
    QTimer::singleShot(0, this, &GalleryRun::next);
}

void GalleryRun::fail(const QString &text)
{
    m_failed = true;
    fprintf(stderr, "design-gallery: %s\n", qPrintable(text));
}

} // namespace kovra::gallery
