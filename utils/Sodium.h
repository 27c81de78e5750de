#ifndef TAVLO_SODIUM_H
#define TAVLO_SODIUM_H

#include <QByteArray>
#include <QString>
#include <optional>

// What the classroom's signing shares of libsodium: its start-up and its
// base64, which reads only the canonical form (standard alphabet, padding,
// no white space, no stray bits), so that one text means one byte string.
namespace Sodium {

// Starts libsodium once; false when it cannot (then nothing may be signed
// or checked). Any thread.
bool ready();

// Standard base64 with padding.
QString toBase64(const QByteArray& bytes);
// The bytes of a canonical standard base64 text of at most maxBytes
// decoded bytes; nothing for any other text.
std::optional<QByteArray> fromBase64(const QString& text, int maxBytes);

}  // namespace Sodium

#endif
