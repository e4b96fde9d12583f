import QtQuick
import Kovra.Design
import Kovra.Account

// The payment sheet's content over its view-model (PaymentMethodSheet): the method
// chooser, or the waiting view while the sheet's payment wait is not idle. The
// presenter (PaymentMethodSheet.present) frames it in the sheet window.
Item {
    id: view

    required property PaymentMethodSheet model

    implicitWidth: 420
    implicitHeight: chooser.implicitHeight

    Rectangle {
        anchors.fill: parent
        color: Brand.background
    }

    PaymentMethodChooser {
        id: chooser
        objectName: "chooser"
        anchors.fill: parent
        visible: !view.model.showsWaiting
        title: view.model.title
        subtitle: view.model.subtitle
        methods: view.model.methods
        isPaying: view.model.isPaying
        payTitle: view.model.payTitle
        errorText: view.model.errorText
        onSelectRequested: (method) => view.model.select(method)
        onPayRequested: view.model.pay()
    }

    Loader {
        objectName: "waiting"
        anchors.fill: parent
        active: view.model.showsWaiting
        sourceComponent: Component {
            PaymentWaitingView {
                objectName: "waitingView"
                model: view.model.waitingView
            }
        }
    }
}
