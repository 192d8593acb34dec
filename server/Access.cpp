#include "server/Access.h"

#include "server/WorkerPool.h"

#include <iostream>

#include "server/ThreadStore.h"
#include "server/Tokens.h"

namespace vek::history {

namespace {

// The token a request presents, empty when it presents none.
QByteArray presentedToken(const httplib::Request& req) {
    const std::string header = req.get_header_value("Authorization");
    for (const std::string scheme : {"Bearer ", "Basic "}) {
        if (header.rfind(scheme, 0) != 0)
            continue;
        const QByteArray value = QByteArray::fromStdString(header.substr(scheme.size()));
        if (scheme == "Bearer ")
            return value;
        // user:password, the user being any name the reader likes.
        const QByteArray userAndPassword = QByteArray::fromBase64(value);
        const qsizetype colon = userAndPassword.indexOf(':');
        return colon < 0 ? QByteArray() : userAndPassword.mid(colon + 1);
    }
    return {};
}

}  // namespace

Caller authenticate(const httplib::Request& req, Access access, bool open) {
    const std::vector<TokenEntry> known = threadStore().tokens();
    if (known.empty()) {
        if (open)
            return {};
        throw Refusal{401, "unauthorized", "nenhum token cadastrado no servidor"};
    }
    const QByteArray presented = presentedToken(req);
    const auto entry = presented.isEmpty() ? std::nullopt : matchToken(known, presented);
    if (!entry)
        throw Refusal{401, "unauthorized", "token ausente ou desconhecido"};
    const bool allowed = access == Access::Anyone ||
                         (access == Access::Post && entry->role == "station") ||
                         (access == Access::Read && entry->role == "reader");
    if (!allowed)
        throw Refusal{403, "forbidden",
                      access == Access::Post ? "só um token de estação envia visitas"
                                             : "só um token de leitura consulta o histórico"};
    return {entry->role, entry->name};
}

httplib::Server::Handler guardedRoute(Access access, bool open, Route route, RefusalSender send) {
    return [access, open, route, send](const httplib::Request& req, httplib::Response& res) {
        WorkerPool::requestRead();
        for (int attempt = 1;; ++attempt) {
            try {
                route(req, res, authenticate(req, access, open));
                return;
            } catch (const Refusal& refusal) {
                send(res, refusal);
                return;
            } catch (const StoreError& error) {
                closeThreadStore();
                if (attempt == 2) {
                    std::cerr << "vekhistory: " << error.what() << std::endl;
                    send(res, {503, "database_unavailable", "o banco de dados não respondeu"});
                    return;
                }
            }
        }
    };
}

}  // namespace vek::history
