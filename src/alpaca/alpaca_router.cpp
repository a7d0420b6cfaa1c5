#include "alpaca/alpaca_router.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <optional>
#include <type_traits>

#include <nlohmann/json.hpp>

#include "alpaca/image_encoding.h"

namespace kyr::alpaca {
namespace {

using Json = nlohmann::ordered_json;
using Handler = AlpacaRouter::Handler;
using Txn = AlpacaRouter::Txn;

// The camera's texts may hold any bytes: invalid UTF-8 is replaced, never thrown about.
std::string dump(const Json& j) { return j.dump(-1, ' ', false, Json::error_handler_t::replace); }

template <class T>
std::optional<T> parseNumber(std::string_view s) {
    T v{};
    const auto r = std::from_chars(s.data(), s.data() + s.size(), v);
    if (s.empty() || r.ec != std::errc() || r.ptr != s.data() + s.size()) return std::nullopt;
    if constexpr (std::is_floating_point_v<T>) {
        if (!std::isfinite(v)) return std::nullopt;
    }
    return v;
}

std::optional<bool> parseBool(std::string_view s) {
    if (equalsNoCase(s, "true")) return true;
    if (equalsNoCase(s, "false")) return false;
    return std::nullopt;
}

// Culture-neutral, as Alpaca asks: a point, never a comma.
std::string number(double v) {
    char text[32];
    const auto r = std::to_chars(text, text + sizeof text, v);
    return std::string(text, r.ptr);
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
    return s;
}

// "application/imagebytes" among the Accept header's media ranges, and not refused by q=0.
bool acceptsImageBytes(const std::string* accept) {
    if (!accept) return false;
    std::string_view rest = *accept;
    while (!rest.empty()) {
        const std::size_t comma = rest.find(',');
        std::string_view range = rest.substr(0, comma);
        rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
        const std::size_t semi = range.find(';');
        if (!equalsNoCase(trim(range.substr(0, semi)), "application/imagebytes")) continue;
        while (semi != std::string_view::npos && !range.empty()) {
            const std::size_t next = range.find(';', 1);
            const std::string_view param = trim(range.substr(1, next == std::string_view::npos
                                                                    ? std::string_view::npos
                                                                    : next - 1));
            if (param.size() > 2 && equalsNoCase(param.substr(0, 2), "q=")) {
                const auto q = parseNumber<double>(param.substr(2));
                if (q && *q <= 0) return false;
            }
            range = next == std::string_view::npos ? std::string_view() : range.substr(next);
        }
        return true;
    }
    return false;
}

std::string htmlEscape(std::string_view s) {
    std::string out;
    for (char c : s) {
        switch (c) {
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '&': out += "&amp;"; break;
            case '"': out += "&quot;"; break;
            default: out.push_back(c);
        }
    }
    return out;
}

std::vector<std::string_view> split(std::string_view s, char sep) {
    std::vector<std::string_view> parts;
    while (true) {
        const std::size_t at = s.find(sep);
        parts.push_back(s.substr(0, at));
        if (at == std::string_view::npos) return parts;
        s.remove_prefix(at + 1);
    }
}

void addIds(Json& j, const Txn& t, int number, const std::string& message) {
    j["ClientTransactionID"] = t.clientTid;
    j["ServerTransactionID"] = t.serverTid;
    j["ErrorNumber"] = number;
    j["ErrorMessage"] = message;
}

// A required parameter of a PUT: a missing or malformed one is a request the device cannot
// understand (HTTP 400), unlike a well-formed value out of range (HTTP 200, InvalidValue).
template <class T>
std::optional<T> required(Txn& t, const FormParameters& p, std::string_view name) {
    const auto text = p.find(name);
    std::optional<T> v;
    if constexpr (std::is_same_v<T, bool>) {
        if (text) v = parseBool(*text);
    } else {
        if (text) v = parseNumber<T>(*text);
    }
    if (!v) {
        t.reply(textResponse(400, text ? "the value '" + std::string(*text) + "' of " +
                                             std::string(name) + " is malformed"
                                       : "the parameter " + std::string(name) + " is missing"));
    }
    return v;
}

}  // namespace

std::string stableUniqueId(std::string_view hostName, std::string_view line) {
    std::uint64_t h = 14695981039346656037ull;  // FNV-1a
    for (std::string_view part : {std::string_view("kyr-alpaca camera"), hostName, line}) {
        for (char c : part) {
            h ^= static_cast<unsigned char>(c);
            h *= 1099511628211ull;
        }
        h ^= 0xFF;  // keeps "ab"+"c" apart from "a"+"bc"
        h *= 1099511628211ull;
    }
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(h));
    return text;
}

std::string isoUtc(std::chrono::system_clock::time_point t, bool zulu) {
    using namespace std::chrono;
    const auto ms = floor<milliseconds>(t);
    const auto day = floor<days>(ms);
    const year_month_day ymd{day};
    const hh_mm_ss hms{ms - day};
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02d.%03d%s",
                  static_cast<int>(ymd.year()), static_cast<unsigned>(ymd.month()),
                  static_cast<unsigned>(ymd.day()), static_cast<int>(hms.hours().count()),
                  static_cast<int>(hms.minutes().count()), static_cast<int>(hms.seconds().count()),
                  static_cast<int>(hms.subseconds().count()), zulu ? "Z" : "");
    return text;
}

AlpacaRouter::AlpacaRouter(AlpacaCameraDevice& camera, ServerDescription description, Post post)
    : camera_(camera), description_(std::move(description)), post_(std::move(post)) {
    buildMembers();
}

AlpacaRouter::~AlpacaRouter() = default;

std::uint32_t AlpacaRouter::nextServerTid() {
    if (++serverTid_ == 0) serverTid_ = 1;
    return serverTid_;
}

void AlpacaRouter::handle(const HttpRequest& request, Reply reply) {
    if (request.method != "GET" && request.method != "PUT") {
        HttpResponse r = textResponse(405, "Alpaca requests are GET or PUT");
        r.headers.push_back({"Allow", "GET, PUT"});
        return reply(std::move(r));
    }
    const std::string_view path = request.path;
    if (path.starts_with("/api/")) return handleApi(path.substr(5), request, reply);
    if (path.starts_with("/management/")) return handleManagement(path.substr(12), request, reply);
    if (path == "/" || path == "/setup" || path.starts_with("/setup/"))
        return handleSetup(path == "/" ? "" : path.substr(6), request, reply);
    reply(textResponse(400, "'" + request.path + "' is not an Alpaca path"));
}

bool AlpacaRouter::begin(const HttpRequest& request, Reply& reply, Txn& txn,
                         FormParameters& params) {
    // GET parameters come in the query string, PUT parameters in the form body.
    auto parsed = FormParameters::parse(request.method == "PUT" ? request.body : request.query);
    if (!parsed) {
        reply(textResponse(400, "the parameters hold a broken % escape"));
        return false;
    }
    params = std::move(*parsed);
    for (std::string_view name : {"ClientID", "ClientTransactionID"}) {
        const auto text = params.find(name);
        if (!text) continue;
        const auto v = parseNumber<std::uint32_t>(*text);
        if (!v) {
            reply(textResponse(400, std::string(name) + " '" + std::string(*text) +
                                        "' is not an unsigned 32-bit integer"));
            return false;
        }
        if (name == "ClientTransactionID") txn.clientTid = *v;
    }
    txn.serverTid = nextServerTid();
    txn.reply = std::move(reply);
    return true;
}

void AlpacaRouter::handleApi(std::string_view rest, const HttpRequest& request, Reply& reply) {
    const auto parts = split(rest, '/');
    if (parts.size() != 4 || parts[0] != "v1")
        return reply(textResponse(400, "'" + request.path +
                                           "' is not an Alpaca v1 device path: "
                                           "/api/v1/camera/0/<member> is served here"));
    if (parts[1] != "camera")
        return reply(textResponse(400, "'" + std::string(parts[1]) +
                                           "' devices are not served here: this Alpaca device "
                                           "has one camera"));
    const auto number = parseNumber<std::uint32_t>(parts[2]);
    if (!number)
        return reply(textResponse(400, "'" + std::string(parts[2]) + "' is not a device number"));
    if (*number != 0)
        return reply(textResponse(400, "there is no camera " + std::to_string(*number) +
                                           ": the only camera is 0"));
    const std::string_view name = parts[3];
    const Member* member = nullptr;
    for (const Member& m : members_)
        if (m.name == name) member = &m;
    if (!member)
        return reply(textResponse(400, "'" + std::string(name) + "' is not a camera member"));
    const bool put = request.method == "PUT";
    const Handler& handler = put ? member->put : member->get;
    if (!handler)
        return reply(textResponse(400, "camera " + std::string(name) + " is " +
                                           (put ? "read with GET, not set with PUT"
                                                : "set with PUT, not read with GET")));
    Txn txn;
    FormParameters params;
    if (!begin(request, reply, txn, params)) return;
    txn.imageBytes = name == "imagearray" && acceptsImageBytes(request.header("Accept"));
    handler(txn, params);
}

void AlpacaRouter::handleManagement(std::string_view rest, const HttpRequest& request,
                                    Reply& reply) {
    Json v;
    if (rest == "apiversions") {
        v = Json::array({1});
    } else if (rest == "v1/description") {
        v = {{"ServerName", description_.serverName},
             {"Manufacturer", description_.manufacturer},
             {"ManufacturerVersion", description_.manufacturerVersion},
             {"Location", description_.location}};
    } else if (rest == "v1/configureddevices") {
        v = Json::array({{{"DeviceName", camera_.identity().name},
                          {"DeviceType", "Camera"},
                          {"DeviceNumber", 0},
                          {"UniqueID", description_.uniqueId}}});
    } else {
        return reply(textResponse(400, "'" + request.path + "' is not a management request"));
    }
    if (request.method != "GET")
        return reply(textResponse(400, request.path + " is read with GET, not set with PUT"));
    Txn txn;
    FormParameters params;
    if (begin(request, reply, txn, params)) value(txn, v);
}

void AlpacaRouter::handleSetup(std::string_view rest, const HttpRequest& request, Reply& reply) {
    if (request.method != "GET" || (!rest.empty() && rest != "/v1/camera/0/setup"))
        return reply(textResponse(403, "there is no such setup page"));
    const CameraIdentity id = camera_.identity();
    HttpResponse r;
    r.contentType = "text/html; charset=utf-8";
    r.body = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>" +
             htmlEscape(description_.serverName) + "</title></head><body>\n<h1>" +
             htmlEscape(description_.serverName) + "</h1>\n<p>" +
             htmlEscape(description_.manufacturer) + " " +
             htmlEscape(description_.manufacturerVersion) + "</p>\n<p>Camera 0: " +
             htmlEscape(id.name) + " (" + htmlEscape(id.description) +
             ")</p>\n<p>The line and the listening address are set where the server is "
             "started; there is nothing to configure here.</p>\n</body></html>\n";
    reply(std::move(r));
}

// ---- answers

void AlpacaRouter::sendJson(Txn& t, const std::string& json) {
    HttpResponse r;
    r.contentType = "application/json; charset=utf-8";
    r.body = json;
    t.reply(std::move(r));
}

void AlpacaRouter::value(Txn& t, const Json& v) {
    Json j;
    j["Value"] = v;
    addIds(j, t, 0, "");
    sendJson(t, dump(j));
}

void AlpacaRouter::fail(Txn& t, int number, const std::string& message) {
    if (t.imageBytes) {
        HttpResponse r;
        r.contentType = "application/imagebytes";
        r.body = encodeImageBytesError(number, message, t.clientTid, t.serverTid);
        return t.reply(std::move(r));
    }
    Json j;
    addIds(j, t, number, message);
    sendJson(t, dump(j));
}

void AlpacaRouter::finish(Txn& t, const AlpacaResult& r) {
    if (r.ok()) {
        Json j;
        addIds(j, t, 0, "");
        return sendJson(t, dump(j));
    }
    // Alpaca's numbers are 0x400..0xFFF and an error always says something.
    const int number = r.number >= 0x400 && r.number <= 0xFFF ? r.number : error::kDriverError;
    fail(t, number, r.message.empty() ? "the camera reports an error" : r.message);
}

bool AlpacaRouter::connectedOrFail(Txn& t) {
    if (camera_.connected()) return true;
    fail(t, error::kNotConnected, "the camera is not connected: set Connected to true first");
    return false;
}

Completion AlpacaRouter::later(Txn t, std::function<void(Txn&, const AlpacaResult&)> then) {
    return [post = post_, alive = std::weak_ptr<int>(alive_), t = std::move(t),
            then = std::move(then)](AlpacaResult r) {
        post([alive, t, then, r = std::move(r)]() mutable {
            if (alive.expired()) return;  // the server has gone; nobody waits for this
            if (then) then(t, r);
            if (t.reply) finish(t, r);
        });
    };
}

// ---- the members

void AlpacaRouter::buildMembers() {
    const auto notImplemented = [](std::string_view name) {
        return Handler([name](Txn& t, const FormParameters&) {
            fail(t, error::kNotImplemented, "camera " + std::string(name) + " is not implemented");
        });
    };
    // Neither verb does anything on this camera, but the member exists (HTTP 200, 0x400).
    const auto absent = [&](std::string_view name, bool get, bool put) {
        members_.push_back({name, get ? notImplemented(name) : Handler(),
                            put ? notImplemented(name) : Handler()});
    };
    // A value read while connected.
    const auto connectedGet = [this](std::string_view name, std::function<Json()> read) {
        members_.push_back({name, [this, read](Txn& t, const FormParameters&) {
                                if (connectedOrFail(t)) value(t, read());
                            },
                            Handler()});
    };
    // A value the camera may not know: NotImplemented then, never a made-up value.
    const auto optionalGet = [this](std::string_view name,
                                    std::function<std::optional<Json>()> read) {
        members_.push_back({name, [this, name, read](Txn& t, const FormParameters&) {
                                if (!connectedOrFail(t)) return;
                                if (const auto v = read()) return value(t, *v);
                                fail(t, error::kNotImplemented,
                                     "this camera does not report " + std::string(name));
                            },
                            Handler()});
    };
    const auto caps = [this] { return camera_.capabilities(); };
    const auto json = [](const auto& opt) -> std::optional<Json> {
        if (opt) return Json(*opt);
        return std::nullopt;
    };

    // Common to every device type.
    absent("action", false, true);
    absent("commandblind", false, true);
    absent("commandbool", false, true);
    absent("commandstring", false, true);
    members_.push_back({"connected",
                        [this](Txn& t, const FormParameters&) { value(t, camera_.connected()); },
                        [this](Txn& t, const FormParameters& p) { putConnected(t, p); }});
    members_.push_back({"connect", Handler(),
                        [this](Txn& t, const FormParameters&) { connectNow(t, false); }});
    members_.push_back({"disconnect", Handler(),
                        [this](Txn& t, const FormParameters&) { disconnectNow(t, false); }});
    members_.push_back(
        {"connecting", [this](Txn& t, const FormParameters&) { value(t, connecting_); }, Handler()});
    members_.push_back({"description",
                        [this](Txn& t, const FormParameters&) {
                            value(t, camera_.identity().description);
                        },
                        Handler()});
    members_.push_back(
        {"driverinfo",
         [this](Txn& t, const FormParameters&) { value(t, camera_.identity().driverInfo); },
         Handler()});
    members_.push_back(
        {"driverversion",
         [this](Txn& t, const FormParameters&) { value(t, camera_.identity().driverVersion); },
         Handler()});
    // ICameraV4: Connect, Disconnect, Connecting and DeviceState included.
    members_.push_back(
        {"interfaceversion", [](Txn& t, const FormParameters&) { value(t, 4); }, Handler()});
    members_.push_back(
        {"name", [this](Txn& t, const FormParameters&) { value(t, camera_.identity().name); },
         Handler()});
    members_.push_back({"supportedactions",
                        [](Txn& t, const FormParameters&) { value(t, Json::array()); }, Handler()});
    members_.push_back(
        {"devicestate", [this](Txn& t, const FormParameters&) { deviceState(t); }, Handler()});

    // The camera's own.
    absent("bayeroffsetx", true, false);  // monochrome
    absent("bayeroffsety", true, false);
    members_.push_back({"binx", [this](Txn& t, const FormParameters&) {
                            if (connectedOrFail(t)) value(t, frame_.binX);
                        },
                        [this](Txn& t, const FormParameters& p) { putBin(t, p, true); }});
    members_.push_back({"biny", [this](Txn& t, const FormParameters&) {
                            if (connectedOrFail(t)) value(t, frame_.binY);
                        },
                        [this](Txn& t, const FormParameters& p) { putBin(t, p, false); }});
    connectedGet("camerastate", [this] { return static_cast<int>(camera_.state()); });
    connectedGet("cameraxsize", [caps] { return caps().sensorWidth; });
    connectedGet("cameraysize", [caps] { return caps().sensorHeight; });
    connectedGet("canabortexposure", [caps] { return caps().canAbortExposure; });
    connectedGet("canasymmetricbin", [caps] { return caps().canAsymmetricBin; });
    connectedGet("canfastreadout", [] { return false; });
    connectedGet("cangetcoolerpower", [] { return false; });
    connectedGet("canpulseguide", [] { return false; });
    connectedGet("cansetccdtemperature", [] { return false; });
    connectedGet("canstopexposure", [caps] { return caps().canStopExposure; });
    optionalGet("ccdtemperature", [this, json] { return json(camera_.ccdTemperature()); });
    absent("cooleron", true, true);
    absent("coolerpower", true, false);
    optionalGet("electronsperadu", [caps, json] { return json(caps().electronsPerAdu); });
    connectedGet("exposuremax", [caps] { return caps().exposureMax; });
    connectedGet("exposuremin", [caps] { return caps().exposureMin; });
    connectedGet("exposureresolution", [caps] { return caps().exposureResolution; });
    absent("fastreadout", true, true);
    optionalGet("fullwellcapacity", [caps, json] { return json(caps().fullWellCapacity); });
    absent("gain", true, true);
    absent("gainmax", true, false);
    absent("gainmin", true, false);
    absent("gains", true, false);
    optionalGet("hasshutter", [caps, json] { return json(caps().hasShutter); });
    absent("heatsinktemperature", true, false);
    members_.push_back(
        {"imagearray", [this](Txn& t, const FormParameters&) { imageArray(t); }, Handler()});
    absent("imagearrayvariant", true, false);  // deprecated: NotImplemented is required
    connectedGet("imageready", [this] { return camera_.imageReady(); });
    absent("ispulseguiding", true, false);
    members_.push_back({"lastexposureduration",
                        [this](Txn& t, const FormParameters&) { lastExposure(t, false); },
                        Handler()});
    members_.push_back({"lastexposurestarttime",
                        [this](Txn& t, const FormParameters&) { lastExposure(t, true); },
                        Handler()});
    connectedGet("maxadu", [caps] { return caps().maxAdu; });
    connectedGet("maxbinx", [caps] { return caps().maxBinX; });
    connectedGet("maxbiny", [caps] { return caps().maxBinY; });
    const auto frameMember = [this](std::string_view name, std::string_view param,
                                    int CameraFrame::*field) {
        members_.push_back({name, [this, field](Txn& t, const FormParameters&) {
                                if (connectedOrFail(t)) value(t, frame_.*field);
                            },
                            [this, param, field](Txn& t, const FormParameters& p) {
                                putFrame(t, p, param, field);
                            }});
    };
    frameMember("numx", "NumX", &CameraFrame::numX);
    frameMember("numy", "NumY", &CameraFrame::numY);
    absent("offset", true, true);
    absent("offsetmax", true, false);
    absent("offsetmin", true, false);
    absent("offsets", true, false);
    members_.push_back({"percentcompleted", [this](Txn& t, const FormParameters&) {
                            if (!connectedOrFail(t)) return;
                            if (const auto pct = camera_.percentCompleted()) return value(t, *pct);
                            fail(t, error::kInvalidOperation, "no exposure is under way");
                        },
                        Handler()});
    optionalGet("pixelsizex", [caps, json] { return json(caps().pixelSizeX); });
    optionalGet("pixelsizey", [caps, json] { return json(caps().pixelSizeY); });
    // One readout mode: the camera has no other.
    members_.push_back({"readoutmode", [this](Txn& t, const FormParameters&) {
                            if (connectedOrFail(t)) value(t, 0);
                        },
                        [this](Txn& t, const FormParameters& p) {
                            const auto mode = required<int>(t, p, "ReadoutMode");
                            if (!mode || !connectedOrFail(t)) return;
                            if (*mode != 0)
                                return fail(t, error::kInvalidValue,
                                            "ReadoutMode " + std::to_string(*mode) +
                                                " does not exist: the only mode is 0");
                            finish(t, {});
                        }});
    connectedGet("readoutmodes", [] { return Json::array({"Normal"}); });
    absent("sensorname", true, false);
    // Monochrome: the image is one plane.
    connectedGet("sensortype", [] { return 0; });
    absent("setccdtemperature", true, true);
    frameMember("startx", "StartX", &CameraFrame::startX);
    frameMember("starty", "StartY", &CameraFrame::startY);
    absent("subexposureduration", true, true);
    members_.push_back({"abortexposure", Handler(), [this](Txn& t, const FormParameters&) {
                            if (!connectedOrFail(t)) return;
                            if (!camera_.capabilities().canAbortExposure)
                                return fail(t, error::kNotImplemented,
                                            "this camera cannot abort an exposure");
                            camera_.abortExposure(later(t));
                        }});
    absent("pulseguide", false, true);
    members_.push_back({"startexposure", Handler(),
                        [this](Txn& t, const FormParameters& p) { startExposure(t, p); }});
    members_.push_back({"stopexposure", Handler(), [this](Txn& t, const FormParameters&) {
                            if (!connectedOrFail(t)) return;
                            if (!camera_.capabilities().canStopExposure)
                                return fail(t, error::kNotImplemented,
                                            "this camera cannot stop an exposure early");
                            camera_.stopExposure(later(t));
                        }});
}

void AlpacaRouter::putConnected(Txn& t, const FormParameters& p) {
    const auto on = required<bool>(t, p, "Connected");
    if (!on) return;
    if (*on)
        connectNow(t, true);
    else
        disconnectNow(t, true);
}

// Connected=true answers once linked; Connect() answers at once and Connecting tells when.
void AlpacaRouter::connectNow(Txn& t, bool sync) {
    if (camera_.connected()) return finish(t, {});
    if (connecting_) {
        if (!sync) return finish(t, {});
        return fail(t, error::kInvalidOperation,
                    "a connection is being made or ended: wait until Connecting is false");
    }
    connecting_ = true;
    camera_.connect(later(sync ? t : Txn{}, [this](Txn&, const AlpacaResult& r) {
        connecting_ = false;
        // A new connection starts with the whole sensor, unbinned.
        if (r.ok()) {
            const CameraCapabilities c = camera_.capabilities();
            frame_ = CameraFrame{0, 0, c.sensorWidth, c.sensorHeight, 1, 1};
        }
    }));
    if (!sync) finish(t, {});
}

void AlpacaRouter::disconnectNow(Txn& t, bool sync) {
    if (!camera_.connected() && !connecting_) return finish(t, {});
    connecting_ = true;
    camera_.disconnect(
        later(sync ? t : Txn{}, [this](Txn&, const AlpacaResult&) { connecting_ = false; }));
    if (!sync) finish(t, {});
}

void AlpacaRouter::putBin(Txn& t, const FormParameters& p, bool x) {
    const char* name = x ? "BinX" : "BinY";
    const auto bin = required<int>(t, p, name);
    if (!bin || !connectedOrFail(t)) return;
    const CameraCapabilities c = camera_.capabilities();
    const int max = x ? c.maxBinX : c.maxBinY;
    if (*bin < 1 || *bin > max)
        return fail(t, error::kInvalidValue,
                    std::string(name) + " " + std::to_string(*bin) + " is outside 1.." +
                        std::to_string(max));
    (x ? frame_.binX : frame_.binY) = *bin;
    finish(t, {});
}

// Sub-frame values are checked against sensor and binning when the exposure starts (the
// client may set them in any order); only values that can never fit are refused here.
void AlpacaRouter::putFrame(Txn& t, const FormParameters& p, std::string_view name,
                            int CameraFrame::*field) {
    const auto v = required<int>(t, p, name);
    if (!v || !connectedOrFail(t)) return;
    const bool isSize = name.starts_with("Num");
    if (*v < (isSize ? 1 : 0))
        return fail(t, error::kInvalidValue,
                    std::string(name) + " " + std::to_string(*v) + " is " +
                        (isSize ? "less than 1" : "negative"));
    frame_.*field = *v;
    finish(t, {});
}

void AlpacaRouter::startExposure(Txn& t, const FormParameters& p) {
    const auto duration = required<double>(t, p, "Duration");
    if (!duration) return;
    const auto light = required<bool>(t, p, "Light");
    if (!light || !connectedOrFail(t)) return;
    const CameraCapabilities c = camera_.capabilities();
    const CameraFrame& f = frame_;
    if (*duration < 0)
        return fail(t, error::kInvalidValue, "Duration " + number(*duration) + " is negative");
    if (*duration > c.exposureMax)
        return fail(t, error::kInvalidValue,
                    "Duration " + number(*duration) + " is longer than the longest exposure, " +
                        number(c.exposureMax) + " s");
    if (f.binX < 1 || f.binX > c.maxBinX || f.binY < 1 || f.binY > c.maxBinY)
        return fail(t, error::kInvalidValue, "the binning is outside the camera's");
    if (!c.canAsymmetricBin && f.binX != f.binY)
        return fail(t, error::kInvalidOperation, "this camera bins alike in x and y");
    const int width = c.sensorWidth / f.binX;
    const int height = c.sensorHeight / f.binY;
    if (f.numX < 1 || f.numY < 1 || f.startX < 0 || f.startY < 0 ||
        std::int64_t{f.startX} + f.numX > width || std::int64_t{f.startY} + f.numY > height) {
        return fail(t, error::kInvalidValue,
                    "the sub-frame " + std::to_string(f.numX) + "x" + std::to_string(f.numY) +
                        " at " + std::to_string(f.startX) + "," + std::to_string(f.startY) +
                        " does not fit the sensor's " +
                        std::to_string(width) + "x" + std::to_string(height) + " at this binning");
    }
    switch (camera_.state()) {
        case CameraState::Waiting:
        case CameraState::Exposing:
        case CameraState::Reading:
        case CameraState::Download:
            return fail(t, error::kInvalidOperation, "an exposure is under way");
        case CameraState::Idle:
        case CameraState::Error:
            break;
    }
    camera_.startExposure(ExposureRequest{*duration, *light, f}, later(t));
}

void AlpacaRouter::imageArray(Txn& t) {
    if (!connectedOrFail(t)) return;
    if (!camera_.imageReady()) {
        const std::string why = camera_.exposureError();
        return fail(t, error::kInvalidOperation,
                    why.empty() ? "no image is ready: start an exposure and wait for ImageReady"
                                : "no image is ready: the last exposure failed: " + why);
    }
    const std::shared_ptr<const CameraImage> image = camera_.image();
    if (!image || image->width < 1 || image->height < 1 ||
        image->pixels.size() != static_cast<std::size_t>(image->width) * image->height)
        return fail(t, error::kDriverError, "the camera's image is incomplete");
    const ImageView<std::uint16_t> view{image->width, image->height, image->pixels};
    if (!t.imageBytes) return sendJson(t, encodeImageArrayJson(view, t.clientTid, t.serverTid));
    HttpResponse r;
    r.contentType = "application/imagebytes";
    r.body = encodeImageBytes(view, t.clientTid, t.serverTid);
    t.reply(std::move(r));
}

void AlpacaRouter::deviceState(Txn& t) {
    if (!connectedOrFail(t)) return;
    Json v = Json::array();
    const auto add = [&v](const char* name, Json value) {
        v.push_back({{"Name", name}, {"Value", std::move(value)}});
    };
    add("CameraState", static_cast<int>(camera_.state()));
    if (const auto temp = camera_.ccdTemperature()) add("CCDTemperature", *temp);
    add("ImageReady", camera_.imageReady());
    if (const auto pct = camera_.percentCompleted()) add("PercentCompleted", *pct);
    add("TimeStamp", isoUtc(std::chrono::system_clock::now(), true));
    value(t, v);
}

void AlpacaRouter::lastExposure(Txn& t, bool startTime) {
    if (!connectedOrFail(t)) return;
    const auto last = camera_.lastExposure();
    if (!last) return fail(t, error::kValueNotSet, "no exposure has been taken yet");
    if (startTime) return value(t, isoUtc(last->start));
    value(t, last->duration);
}

}  // namespace kyr::alpaca
