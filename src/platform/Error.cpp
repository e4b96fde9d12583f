#include "platform/Error.h"

namespace kovra {

const char *Error::what() const noexcept
{
    try {
        m_what = description().toUtf8();
    } catch (...) {
        return "error";
    }
    return m_what.constData();
}

namespace {
template<typename F>
QString textOf(const std::exception_ptr &error, F ours)
{
    if (!error)
        return {};
    try {
        std::rethrow_exception(error);
    } catch (const Error &e) {
        return ours(e);
    } catch (const std::exception &e) {
        return QString::fromUtf8(e.what());
    } catch (...) {
        return QStringLiteral("unknown error");
    }
}
} // namespace

QString descriptionOf(const std::exception_ptr &error)
{
    return textOf(error, [](const Error &e) { return e.description(); });
}

QString localizedDescriptionOf(const std::exception_ptr &error)
{
    return textOf(error, [](const Error &e) { return e.localizedDescription(); });
}

bool isCancellation(const std::exception_ptr &error)
{
    if (!error)
        return false;
    try {
        std::rethrow_exception(error);
    } catch (const Error &e) {
        return e.isCancellation();
    } catch (...) {
        return false;
    }
}

} // namespace kovra
