import QtQuick
import QtQuick.Templates as T
import Kovra.Design
import Kovra.Account

// A page of the window's navigation stack, over its view-model (an AccountPageModel
// made for this page, which the page adopts and destroys with itself). The page is
// "shown" while it is the stack's current item (or, outside a stack, while it is
// visible) and tells its model each time that changes. `title` is the navigation
// title the window draws with its back control. The window's stack is a
// QtQuick.Controls StackView: one without transitions (Qt 6.4) never finishes a
// removal, so its popped pages and their models would live until the stack dies;
// skip animations with StackView.Immediate instead. Screens put their content inside:
//
//     AccountPage {
//         id: page
//         readonly property SettingsModel settings: model
//         ScrollView { anchors.fill: parent; ... }
//     }
T.Page {
    id: page

    required property AccountPageModel model

    readonly property bool isCurrent: T.StackView.view
                                      ? T.StackView.status === T.StackView.Active
                                        || T.StackView.status === T.StackView.Activating
                                      : visible

    title: model ? model.navigationTitle : ""
    background: BrandBackdrop {}

    onIsCurrentChanged: if (model) model.setShown(isCurrent)
    Component.onCompleted: {
        model.adopt(page)
        model.setShown(isCurrent)
    }
}
