#include "core/AccountReplies.h"

namespace kovra {

LoginOut LoginOut::decode(const JsonDecodingContainer &c)
{
    LoginOut out{c.decode<QString>("accessToken"), c.decodeIfPresent<QString>("marzbanUsername"), c.decode<bool>("isNew")};
    // The client treats an empty token as none, so an issued one must not be empty.
    if (out.accessToken.isEmpty())
        throw c.dataCorruptedError("accessToken", QStringLiteral("The access token is empty."));
    return out;
}

InvoiceOut InvoiceOut::decode(const JsonDecodingContainer &c)
{
    InvoiceOut out;
    out.paymentId = c.decode<QString>("paymentId");
    // A null link counts as absent; a link of another type fails without trying the other key.
    if (auto invoiceURL = c.decodeIfPresent<QString>("invoiceUrl"))
        out.url = *invoiceURL;
    else if (auto payURL = c.decodeIfPresent<QString>("payUrl"))
        out.url = *payURL;
    else
        throw c.dataCorruptedError(QStringLiteral("InvoiceOut requires invoice_url or pay_url"));
    return out;
}

} // namespace kovra
