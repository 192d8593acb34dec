#include "server/Tokens.h"

#include <openssl/crypto.h>

#include <QCryptographicHash>
#include <QRandomGenerator>
#include <array>

namespace vek::history {

QString newToken() {
    std::array<quint32, 8> random{};
    QRandomGenerator::system()->fillRange(random.data(), random.size());
    const QByteArray bytes(reinterpret_cast<const char*>(random.data()), sizeof random);
    return "vkh_" + QString::fromLatin1(bytes.toBase64(QByteArray::Base64UrlEncoding |
                                                       QByteArray::OmitTrailingEquals));
}

QByteArray tokenHash(const QByteArray& token) {
    return QCryptographicHash::hash(token, QCryptographicHash::Sha256);
}

std::optional<TokenEntry> matchToken(const std::vector<TokenEntry>& known,
                                     const QByteArray& presented) {
    const QByteArray hash = tokenHash(presented);
    std::optional<TokenEntry> found;
    for (const TokenEntry& entry : known)
        if (entry.hash.size() == hash.size() &&
            CRYPTO_memcmp(entry.hash.constData(), hash.constData(), std::size_t(hash.size())) == 0)
            found = entry;
    return found;
}

}  // namespace vek::history
