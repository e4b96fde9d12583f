#pragma once

#include <QPointer>

#include <functional>

class QWindow;

namespace kovra::ui {

class SheetHost;

// A sheet shown while a flag is set: sync(true, window) presents it over the window
// once, sync(false, ...) closes it without a dismissal. When the user dismisses it
// (close button, Escape, the window manager, the parent window closing), or when it
// cannot be presented, `dismissed` runs so that the owner clears its flag.
class SheetSlot {
public:
    // Presents the sheet over the parent; null when it did not load.
    using Presenter = std::function<SheetHost *(QWindow *parent)>;

    SheetSlot(Presenter present, std::function<void()> dismissed);
    ~SheetSlot();
    SheetSlot(const SheetSlot &) = delete;
    SheetSlot &operator=(const SheetSlot &) = delete;

    // Without a window nothing is presented yet; the next sync with one presents it.
    void sync(bool shown, QWindow *window);
    // The open presentation, or null.
    SheetHost *host() const;

private:
    Presenter m_present;
    std::function<void()> m_dismissed;
    QPointer<SheetHost> m_host;
};

} // namespace kovra::ui
