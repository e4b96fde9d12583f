#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

namespace kovra::gallery {

// One picture: a file-name stem and the QML that shows the component in that state
// (the imports are added in front).
struct GalleryCase {
    QString name;
    QByteArray qml;
    int settleMs = 0; // time for an entrance animation before the picture is taken
};

QList<GalleryCase> galleryCases();
// The account screens' components and views, with fixed data.
QList<GalleryCase> accountGalleryCases();

// The imports every case is written against.
QByteArray galleryImports();

} // namespace kovra::gallery
