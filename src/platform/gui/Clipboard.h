#pragma once

#include <QString>

#include <memory>

namespace kovra {

// The system clipboard as the product writes it: every copy replaces whatever the
// clipboard held with one plain-text item. Used on the GUI thread.
class Clipboard {
public:
    virtual ~Clipboard() = default;

    // Clears the clipboard, then puts `text` on it unchanged (line breaks included) as
    // its only item, of type text/plain.
    virtual void setPlainText(const QString &text) = 0;

    // The application's clipboard (QClipboard, Clipboard mode); needs a QGuiApplication.
    static std::shared_ptr<Clipboard> system();
};

} // namespace kovra
