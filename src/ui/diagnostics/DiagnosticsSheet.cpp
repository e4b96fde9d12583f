#include "ui/diagnostics/DiagnosticsSheet.h"

#include "ui/design/PreviewHost.h"
#include "ui/design/SheetHost.h"
#include "ui/diagnostics/DiagnosticsModule.h"
#include "ui/diagnostics/DiagnosticsView.h"

namespace kovra::ui {

SheetHost *DiagnosticsSheet::present(QWindow *parent, TunnelController *tunnelController, TelemetrySource *telemetry,
                                     DiagnosticsViewOptions options, QQmlEngine *engine)
{
    registerDiagnosticsModule();
    auto *view = new DiagnosticsView(tunnelController, telemetry, std::move(options));
    auto *host = new SheetHost(parent, {view->title(), kMinimumSize, kOpeningSize}, engine);
    view->setParent(host);
    QObject::connect(host, &SheetHost::closed, view, &DiagnosticsView::endPresentation);
    const QString error = host->open(PreviewHost::moduleFile(QStringLiteral("Kovra.Diagnostics"), QStringLiteral("DiagnosticsSheet")),
                                     {{QStringLiteral("model"), QVariant::fromValue(view)}});
    if (!error.isEmpty())
        return nullptr;
    view->appear();
    return host;
}

} // namespace kovra::ui
