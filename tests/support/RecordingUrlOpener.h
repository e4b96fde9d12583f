#pragma once

#include "platform/UrlOpener.h"

#include <QStringList>

namespace kovra::test {

// Records every link it is asked to open; the `refused` links count as not opened (as
// if no application were registered for them).
struct RecordingUrlOpener : UrlOpener {
    explicit RecordingUrlOpener(QStringList refusedLinks = {}) : refused(std::move(refusedLinks)) {}
    QStringList refused;
    QList<QUrl> asked;

    QCoro::Task<bool> openURL(QUrl url) override
    {
        asked << url;
        co_return !refused.contains(url.toString());
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
