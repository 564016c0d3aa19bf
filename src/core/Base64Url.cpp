#include "core/Base64Url.h"

namespace vyo {

QByteArray base64UrlEncode(const QByteArray &bytes)
{
    return bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals);
}

std::optional<QByteArray> base64UrlDecode(const QByteArray &text)
{
    auto result = QByteArray::fromBase64Encoding(text, QByteArray::Base64UrlEncoding |
                                                           QByteArray::AbortOnBase64DecodingErrors);
    if (!result)
        return std::nullopt;
    return std::move(result.decoded);
}

} // namespace vyo
