#include "ui/main/SheetSlot.h"

#include "ui/design/SheetHost.h"

namespace kovra::ui {

SheetSlot::SheetSlot(Presenter present, std::function<void()> dismissed)
    : m_present(std::move(present)), m_dismissed(std::move(dismissed))
{
}

SheetSlot::~SheetSlot()
{
    if (SheetHost *open = host())
        open->close();
}

SheetHost *SheetSlot::host() const
{
    return m_host && m_host->isOpen() ? m_host.data() : nullptr;
}

void SheetSlot::sync(bool shown, QWindow *window)
{
    SheetHost *open = host();
    if (!shown) {
        if (open) {
            m_host = nullptr;
            open->close();
        }
        return;
    }
    if (open || !window)
        return;
    m_host = m_present(window);
    if (!m_host) {
        // A flag left set with nothing on screen would keep the next press from showing it.
        m_dismissed();
        return;
    }
    QObject::connect(m_host, &SheetHost::dismissed, m_host, [this, presented = m_host] {
        if (m_host == presented) {
            m_host = nullptr;
            m_dismissed();
        }
    });
}

} // namespace kovra::ui
