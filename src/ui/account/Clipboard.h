#pragma once

#include <QString>

#include <memory>

namespace kovra::ui {

// The desktop's clipboard, as the copy actions use it. Tests hand in a recording one.
class Clipboard {
public:
    virtual ~Clipboard() = default;
    // Clears the clipboard, then puts one plain text on it.
    virtual void setText(const QString &text) = 0;

    // The application's clipboard (QGuiApplication::clipboard()).
    static std::shared_ptr<Clipboard> system();
};

} // namespace kovra::ui
