#include "platform/gui/Clipboard.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

namespace kovra {
namespace {

class SystemClipboard final : public Clipboard {
public:
    void setPlainText(const QString &text) override
    {
        QClipboard *clipboard = QGuiApplication::clipboard();
        clipboard->clear(QClipboard::Clipboard);
        auto *data = new QMimeData;
        data->setText(text);
        // The clipboard takes the data over.
        clipboard->setMimeData(data, QClipboard::Clipboard);
    }
};

} // namespace

std::shared_ptr<Clipboard> Clipboard::system()
{
    static const std::shared_ptr<Clipboard> clipboard = std::make_shared<SystemClipboard>();
    return clipboard;
}

} // namespace kovra
