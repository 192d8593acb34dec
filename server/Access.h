#pragma once

#include <httplib.h>

#include <QString>
#include <functional>

namespace vek::history {

enum class Access { Post, Read, Anyone };

struct Caller {
    QString role;  // empty when the server is open
    QString name;
};

// A request that cannot be answered, with its status and reason.
struct Refusal {
    int status;
    QString reason, message;
};

// The caller's token, as a bearer token or as the password of HTTP basic authentication (what a
// browser asks a person for), checked for the access asked; throws Refusal. With no token
// defined an open server lets everyone in.
Caller authenticate(const httplib::Request& req, Access access, bool open);

using Route = std::function<void(const httplib::Request&, httplib::Response&, const Caller&)>;
using RefusalSender = void (*)(httplib::Response&, const Refusal&);

// Every route: its access checked first, a refusal answered with its status. A connection the
// database dropped (it restarted) is opened again and the request tried once more, which is
// safe since storing a line twice stores it once; a database still away is answered 503.
httplib::Server::Handler guardedRoute(Access access, bool open, Route route, RefusalSender send);

}  // namespace vek::history
