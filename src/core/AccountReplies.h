#pragma once

#include "platform/Json.h"

#include <QString>

#include <optional>

namespace kovra {

// The service's answer when it issues a session token: to the Telegram sign-in poll
// and to the linking of an Apple or Google identity. An empty token does not decode.
struct LoginOut {
    QString accessToken;
    std::optional<QString> marzbanUsername;
    bool isNew = false; // the sign-in created a new account

    static LoginOut decode(const JsonDecodingContainer &c);
    bool operator==(const LoginOut &) const = default;
};

// A payment invoice (Telegram Stars or the crypto payment bot). The service names the
// link "invoice_url" or, for some methods, "pay_url"; the record keeps the one found.
struct InvoiceOut {
    QString paymentId;
    QString url;

    static InvoiceOut decode(const JsonDecodingContainer &c);
    bool operator==(const InvoiceOut &) const = default;
};

} // namespace kovra
