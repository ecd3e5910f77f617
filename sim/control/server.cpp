// The control server: its one HTTP server on 127.0.0.1, who may speak to it,
// the answers every route shares; the routes themselves are in routes/.
#include "server.h"

#include <httplib.h>

#include <pthread.h>
#include <sys/socket.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <thread>

#include "sim/clock/virtual_clock.h"
#include "sim/control/routes.h"

namespace sim {

namespace control {

void Routes::get(const char* path, httplib::Server::Handler handler) {
    allow(path, "GET");
    server_.Get(path, std::move(handler));
}

void Routes::post(const char* path, httplib::Server::Handler handler) {
    allow(path, "POST");
    server_.Post(path, std::move(handler));
}

void Routes::allow(const std::string& path, const char* method) {
    std::string& methods = allowed_[path];
    methods += methods.empty() ? method : std::string(", ") + method;
}

const std::string* Routes::methodsOf(const std::string& path) const {
    const auto route = allowed_.find(path);
    return route == allowed_.end() ? nullptr : &route->second;
}

void reply(httplib::Response& res, const json& body, int status) {
    res.status = status;
    // The log may hold bytes that are not UTF-8 (GBK texts of the firmware).
    res.set_content(body.dump(-1, ' ', false, json::error_handler_t::replace), "application/json");
}

void badRequest(httplib::Response& res, const std::string& why) {
    reply(res, json{{"error", why}}, 400);
}

void change(const std::function<void()>& what) {
    clock().inject(what);
}

}  // namespace control

using control::json;
using control::reply;

struct ControlServer::Impl {
    static constexpr size_t kBodyMaxBytes = 8192;
    httplib::Server server;
    control::Routes routes;
    std::thread thread;
    int port = 0;

    // Only pages of this server and programs on this machine may drive it:
    // a page elsewhere sends its own Origin, and a DNS-rebinding page a
    // Host that is not ours.
    bool fromHere(const httplib::Request& req) const {
        // Host names and schemes are case-insensitive.
        const auto lower = [](std::string text) {
            for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            return text;
        };
        const std::string p = ":" + std::to_string(port);
        const std::string host = lower(req.get_header_value("Host"));
        if (host != "127.0.0.1" + p && host != "localhost" + p) return false;
        if (!req.has_header("Origin")) return true;
        const std::string origin = lower(req.get_header_value("Origin"));
        return origin == "http://127.0.0.1" + p || origin == "http://localhost" + p;
    }

    httplib::Server::HandlerResponse screen(const httplib::Request& req,
                                            httplib::Response& res) const {
        using httplib::Server;
        if (!fromHere(req)) {
            reply(res, json{{"error", "requests come from this machine's own pages only"}}, 403);
            return Server::HandlerResponse::Handled;
        }
        const std::string* methods = routes.methodsOf(req.path);
        if (methods != nullptr && methods->find(req.method) == std::string::npos) {
            res.set_header("Allow", *methods);
            reply(res, json{{"error", req.method + " is not a method of " + req.path}}, 405);
            return Server::HandlerResponse::Handled;
        }
        return Server::HandlerResponse::Unhandled;
    }

    explicit Impl(World& world) : routes(server, world) {
        // A request body holds a few fields; nothing needs more. The HTTP
        // library holds form-encoded bodies (curl -d) to this already: one
        // limit for every body, whatever its type.
        server.set_payload_max_length(kBodyMaxBytes);
        // A worker serves one connection at a time: idle ones are let go
        // soon, and there are enough workers that dozens of them (and the
        // page's streams) hold up no request.
        server.set_keep_alive_timeout(2);
        server.set_read_timeout(2);
        // Made on the listening thread, whose name its workers take.
        server.new_task_queue = [] {
            pthread_setname_np(pthread_self(), "http");
            auto* pool = new httplib::ThreadPool(64);
            pthread_setname_np(pthread_self(), "http-listen");
            return pool;
        };
        server.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
            return screen(req, res);
        });
        server.set_error_handler([](const httplib::Request& req, httplib::Response& res) {
            if (!res.body.empty()) return;
            const std::string why =
                res.status == 404   ? "no such path: " + req.path
                : res.status == 413 ? "request body too large"
                                    : "request failed with status " + std::to_string(res.status);
            reply(res, json{{"error", why}}, res.status);
        });
        control::addMachineRoutes(routes);
        control::addLineRoutes(routes);
        control::addPanelRoutes(routes);
        control::addStickRoutes(routes);
        control::addPrintRoutes(routes);
        control::addPartRoutes(routes);
    }
};

ControlServer::ControlServer(World& world) : impl_(std::make_unique<Impl>(world)) {}

ControlServer::~ControlServer() {
    stop();
}

int ControlServer::bind(int port, std::string& error) {
    // SO_REUSEADDR alone: a restart may take the port back from connections
    // still closing, but a second simulator cannot listen beside this one
    // (the library's default, SO_REUSEPORT, would let both).
    impl_->server.set_socket_options([](int sock) {
        const int yes = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });
    if (port == 0) {
        port = impl_->server.bind_to_any_port("127.0.0.1");
        if (port <= 0) error = "cannot listen on 127.0.0.1";
        impl_->port = port > 0 ? port : 0;
        return impl_->port;
    }
    if (!impl_->server.bind_to_port("127.0.0.1", port)) {
        error = "cannot listen on 127.0.0.1:" + std::to_string(port) + ": " + strerror(errno) +
                (errno == EADDRINUSE ? " (another printer-sim? try --port 0)" : "");
        return 0;
    }
    impl_->port = port;
    return port;
}

void ControlServer::serve() {
    impl_->thread = std::thread([this] {
        pthread_setname_np(pthread_self(), "http-listen");
        impl_->server.listen_after_bind();
    });
}

void ControlServer::stop() {
    if (!impl_->thread.joinable()) return;
    impl_->server.stop();
    impl_->thread.join();
}

}  // namespace sim
