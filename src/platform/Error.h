#pragma once

#include <QByteArray>
#include <QString>

#include <exception>

namespace kovra {

// Base of every typed error of the product. description() is the technical text
// for logs, localizedDescription() what a user may be shown.
class Error : public std::exception {
public:
    virtual QString description() const = 0;
    virtual QString localizedDescription() const { return description(); }
    // True for errors that mean the operation was cancelled rather than failed.
    virtual bool isCancellation() const { return false; }
    const char *what() const noexcept override;

private:
    mutable QByteArray m_what;
};

// A cooperative cancellation, thrown where a cancelled operation stops.
class CancellationError : public Error {
public:
    QString description() const override { return QStringLiteral("cancelled"); }
    bool isCancellation() const override { return true; }
};

// Texts of any captured error: ours use their own texts, other exceptions their what().
QString descriptionOf(const std::exception_ptr &error);
QString localizedDescriptionOf(const std::exception_ptr &error);
bool isCancellation(const std::exception_ptr &error);

} // namespace kovra
