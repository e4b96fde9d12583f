#pragma once

#include "GalleryCases.h"

#include "ui/design/Appearance.h"
#include "ui/design/PreviewHost.h"
#include "ui/design/QmlWarnings.h"

#include <QDir>
#include <QObject>
#include <QQmlEngine>

#include <memory>

namespace kovra::gallery {

// Renders every case in the light and then the dark appearance into
// "<name>-light.png" / "<name>-dark.png" in the output folder, one at a time: load,
// show, wait for two frames of that case, grab, save. Ends with `finished(exit code)`:
// 0 when every picture was written, once, and no QML warning was seen.
class GalleryRun : public QObject {
    Q_OBJECT
public:
    GalleryRun(QDir out, QList<GalleryCase> cases, QObject *parent = nullptr);

    void start();

Q_SIGNALS:
    void finished(int exitCode);

private:
    void next();
    void onFrame(qsizetype index);
    void capture();
    void fail(const QString &text);

    QDir m_out;
    QList<GalleryCase> m_cases;
    ui::QmlWarningCollector m_warnings;
    ui::Appearance m_appearance;
    QQmlEngine m_engine;
    std::unique_ptr<ui::PreviewHost> m_host;
    std::unique_ptr<QObject> m_caseData;
    QMetaObject::Connection m_frames;
    qsizetype m_index = 0;
    int m_framesSeen = 0;
    int m_written = 0;
    bool m_failed = false;
};

} // namespace kovra::gallery
