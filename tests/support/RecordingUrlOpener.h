#pragma once

#include "platform/UrlOpener.h"

#include <QList>
#include <QStringList>
#include <QUrl>

namespace kovra::test {

// Records every link it is asked to open; links of the `refused` schemes count as not
// opened (as if no application were registered for them).
struct RecordingUrlOpener : UrlOpener {
    explicit RecordingUrlOpener(QStringList refusedSchemes = {}) : refused(std::move(refusedSchemes)) {}
    QStringList refused;
    QList<QUrl> asked;

    QCoro::Task<bool> openURL(QUrl url) override
    {
        asked << url;
        co_return !refused.contains(url.scheme());
    }
    QStringList askedTexts() const
    {
        QStringList texts;
        for (const QUrl &url : asked)
            texts << url.toString();
        return texts;
    }
};

} // namespace kovra::test
