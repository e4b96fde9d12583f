#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QVariantMap>

#include <functional>

namespace kovra::gallery {

// One picture: a file-name stem and the QML that shows the component in that state
// (the imports are added in front).
struct GalleryCase {
    QString name;
    QByteArray qml;
    int settleMs = 0; // time for an entrance animation before the picture is taken
    // Initial properties of the case's root (view-models with fixed data), made anew
    // for each picture; objects made for them are children of `owner`, which lives
    // as long as the picture is shown.
    std::function<QVariantMap(QObject *owner)> properties = {};
};

QList<GalleryCase> galleryCases();
// The account screens' components and views, with fixed data.
QList<GalleryCase> accountGalleryCases();
// The connection picker in each of its list states, with fixed data.
QList<GalleryCase> pickerGalleryCases();
// The home window in two of its states, over a scripted tunnel provider.
QList<GalleryCase> homeGalleryCases();
// The sign-in window, the welcome alert and the settings window's content.
QList<GalleryCase> rootGalleryCases();

// The imports every case is written against.
QByteArray galleryImports();

} // namespace kovra::gallery
