#pragma once

#include <QObject>
#include <QQuickItem>
#include <QQuickWindow>
#include <QPointer>
#include <QSize>
#include <QString>
#include <QUrl>
#include <QVariantMap>

class QQmlEngine;
class QWindow;

namespace kovra::ui {

struct SheetOptions {
    // The window's title and the chrome's heading, shown verbatim.
    QString title;
    QSize minimumSize;
    // The size it opens at (never below the minimum); empty: the minimum.
    QSize size;
};

// One presentation of a sheet: a SheetWindow (window-modal to `parent`, transient
// for it, centred over it) whose content is created from a QML file of a screen
// module. Whoever presents makes the sheet's view-model a child of the host, so that
// it lives exactly as long as the presentation:
//
//     auto *host = new SheetHost(parent, {title, {480, 520}, {560, 640}});
//     auto *model = new PickerView(..., host);
//     host->open(PreviewHost::moduleFile("Kovra.Main", "PickerSheet"), {{"model", QVariant::fromValue(model)}});
//
// The user's dismissal (close button, Escape, the window manager's close) and the
// closing or destruction of the parent window each emit dismissed() once; close()
// from the presenter does not. Either way the window is hidden at once, closed() is
// emitted, and on a later turn of the event loop the host deletes the content, then
// itself with its children. The hidden window is kept for the engine's next sheet
// (one per engine; the engine deletes it); any other is deleted.
class SheetHost : public QObject {
    Q_OBJECT
public:
    // `engine`: the engine of the parent's QML when null (the parent must then have
    // been built by QML). The engine must have the design module prepared.
    SheetHost(QWindow *parent, SheetOptions options, QQmlEngine *engine = nullptr);
    ~SheetHost() override;

    // Creates the content with its initial properties and shows the sheet. Returns the
    // error text (then nothing is shown and the host deletes itself), empty on success.
    QString open(const QUrl &content, const QVariantMap &properties);

    QQuickWindow *window() const { return m_window; }
    QQuickItem *content() const { return m_content; }
    bool isOpen() const { return m_open; }

    // Closes without a dismissal (the presenter's own closing).
    void close();

    // The engine that built the window's QML (its own or that of an item in it).
    static QQmlEngine *engineOf(QWindow *window);

public Q_SLOTS:
    // Closes as the user would (emits dismissed()).
    void dismiss();

Q_SIGNALS:
    void dismissed();
    void closed();

private:
    void finish(bool byUser);

    QPointer<QWindow> m_parent;
    SheetOptions m_options;
    QQmlEngine *m_engine;
    QPointer<QQuickWindow> m_window;
    QPointer<QQuickItem> m_content;
    bool m_open = false;
};

} // namespace kovra::ui
