#include "Sodium.h"

#include <sodium.h>

namespace Sodium {

bool ready()
{
    // sodium_init is safe to call from several threads and more than once.
    static const bool ok = sodium_init() >= 0;
    return ok;
}

QString toBase64(const QByteArray& bytes)
{
    const size_t len = sodium_base64_ENCODED_LEN(static_cast<size_t>(bytes.size()), sodium_base64_VARIANT_ORIGINAL);
    QByteArray out(static_cast<int>(len), '\0');
    sodium_bin2base64(out.data(), len, reinterpret_cast<const unsigned char*>(bytes.constData()),
                      static_cast<size_t>(bytes.size()), sodium_base64_VARIANT_ORIGINAL);
    out.truncate(static_cast<int>(len) - 1);  // the terminating zero
    return QString::fromLatin1(out);
}

std::optional<QByteArray> fromBase64(const QString& text, int maxBytes)
{
    // Longer than maxBytes can encode: refused before any work.
    if (maxBytes < 0 || text.size() > (maxBytes + 2) / 3 * 4)
        return std::nullopt;
    for (const QChar c : text)
        if (c.unicode() > 0x7f)
            return std::nullopt;
    const QByteArray b64 = text.toLatin1();
    QByteArray out(maxBytes, '\0');
    size_t len = 0;
    const char* end = nullptr;
    if (sodium_base642bin(reinterpret_cast<unsigned char*>(out.data()), static_cast<size_t>(out.size()),
                          b64.constData(), static_cast<size_t>(b64.size()), nullptr, &len, &end,
                          sodium_base64_VARIANT_ORIGINAL) != 0 ||
        end != b64.constData() + b64.size())
        return std::nullopt;
    out.truncate(static_cast<int>(len));
    return out;
}

}  // namespace Sodium
