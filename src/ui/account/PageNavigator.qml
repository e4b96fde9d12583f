import QtQuick
import QtQuick.Templates as T
import Kovra.Design
import Kovra.Account

// Opens AccountPageLinks on a navigation stack: each open() pushes a new page of the
// link's file over a new view-model (the page adopts it), without animation when
// motion is reduced. Does nothing without a stack or a page.
QtObject {
    property T.StackView stack: null

    function open(link) {
        if (!stack || !link || link.page.length === 0)
            return null
        const model = link.makePage()
        if (!model)
            return null
        return stack.push(link.page, {model: model},
                          Brand.reduceMotion ? T.StackView.Immediate : T.StackView.PushTransition)
    }
}
