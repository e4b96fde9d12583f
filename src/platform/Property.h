#pragma once

#include <QObject>

#include <utility>

namespace kovra {

// Set-and-notify for published properties: stores the value and emits the change
// signal only when the value really changed. Returns whether it changed.
//
//     void Store::setLoading(bool v) { updateProperty(m_loading, v, this, &Store::loadingChanged); }
template<typename T, typename U, typename Object, typename Signal>
bool updateProperty(T &field, U &&value, Object *object, Signal signal)
{
    if (field == value)
        return false;
    field = std::forward<U>(value);
    Q_EMIT(object->*signal)();
    return true;
}

} // namespace kovra
