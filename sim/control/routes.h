// How the control server's resources put up their routes, one file a
// resource under routes/, and what every route answers with.
#pragma once

#include <httplib.h>

#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <string>

#include "sim/world.h"

namespace sim::control {

using nlohmann::json;

class Routes {
  public:
    Routes(httplib::Server& server, World& world) : world(world), server_(server) {}
    World& world;

    void get(const char* path, httplib::Server::Handler handler);
    void post(const char* path, httplib::Server::Handler handler);
    // The methods of `path` ("GET, POST"), or nullptr when it is no route.
    const std::string* methodsOf(const std::string& path) const;

  private:
    void allow(const std::string& path, const char* method);
    httplib::Server& server_;
    std::map<std::string, std::string> allowed_;
};

// The resources, each in routes/<name>.cpp.
void addMachineRoutes(Routes& routes);  // state, board, clock, run
void addLineRoutes(Routes& routes);     // trace, log, the event stream
void addPanelRoutes(Routes& routes);    // the page, the panel's picture, touches, the pen
void addStickRoutes(Routes& routes);    // insert, remove
void addPrintRoutes(Routes& routes);    // the print hook and its requests
void addPartRoutes(Routes& routes);     // the mask, the part, its surface and pictures

void reply(httplib::Response& res, const json& body, int status = 200);
void badRequest(httplib::Response& res, const std::string& why);
// A change of the machine from outside, at the firmware instant it arrives.
void change(const std::function<void()>& what);

}  // namespace sim::control
