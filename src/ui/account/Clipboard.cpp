#include "Clipboard.h"

#include <QClipboard>
#include <QGuiApplication>

namespace kovra::ui {

namespace {

class SystemClipboard final : public Clipboard {
public:
    void setText(const QString &text) override
    {
        QClipboard *clipboard = QGuiApplication::clipboard();
        clipboard->clear();
        clipboard->setText(text);
    }
};

} // namespace

std::shared_ptr<Clipboard> Clipboard::system()
{
    static const std::shared_ptr<Clipboard> clipboard = std::make_shared<SystemClipboard>();
    return clipboard;
}

} // namespace kovra::ui
