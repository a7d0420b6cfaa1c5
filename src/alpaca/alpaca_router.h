#pragma once
// Alpaca's conventions over HTTP requests: the Management API, camera 0's ICamera members
// (dispatched to an AlpacaCameraDevice), transaction numbers, error numbers and the HTTP
// statuses the Alpaca API reference asks for. No sockets here: the server hands in a parsed
// request and gets the response through a callback, at once or when the camera has done
// what was asked.

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "alpaca/alpaca_camera_device.h"
#include "alpaca/form_parameters.h"
#include "alpaca/http_request.h"
#include "alpaca/http_response.h"

namespace kyr::alpaca {

// The Alpaca device as a whole (Management API description and configured devices).
struct ServerDescription {
    std::string serverName = "KYR Alpaca Server";
    std::string manufacturer = "KYR Remote Operation Console";
    std::string manufacturerVersion;
    std::string location;
    // Camera 0's: must never change for the same camera (see stableUniqueId).
    std::string uniqueId;
};

// A UniqueID that stays the same as long as the host and the line do, and differs between
// hosts and lines: 64 bits of a hash, as 16 hex digits.
std::string stableUniqueId(std::string_view hostName, std::string_view line);

class AlpacaRouter {
  public:
    using Reply = std::function<void(HttpResponse)>;
    // Runs a function on the server's thread (completions come back through it).
    using Post = std::function<void(std::function<void()>)>;

    AlpacaRouter(AlpacaCameraDevice& camera, ServerDescription description, Post post);
    ~AlpacaRouter();
    AlpacaRouter(const AlpacaRouter&) = delete;
    AlpacaRouter& operator=(const AlpacaRouter&) = delete;

    // Answers one request through reply, exactly once.
    void handle(const HttpRequest& request, Reply reply);
    // The server is going: completions still to come are dropped, the camera is not called.
    void shutdown() { alive_.reset(); }

    // One Alpaca transaction under way (public for the member table in the .cpp).
    struct Txn {
        std::uint32_t clientTid = 0;
        std::uint32_t serverTid = 0;
        bool imageBytes = false;  // the client accepts application/imagebytes
        Reply reply;
    };
    using Handler = std::function<void(Txn&, const FormParameters&)>;
    struct Member {
        std::string_view name;
        Handler get;  // empty: the verb is not this member's
        Handler put;
    };

  private:
    void handleApi(std::string_view rest, const HttpRequest& request, Reply& reply);
    void handleManagement(std::string_view rest, const HttpRequest& request, Reply& reply);
    void handleSetup(std::string_view rest, const HttpRequest& request, Reply& reply);
    // Parses the parameters and transaction numbers; false (and a 400 sent) when malformed.
    bool begin(const HttpRequest& request, Reply& reply, Txn& txn, FormParameters& params);
    std::uint32_t nextServerTid();
    void buildMembers();

    // ---- answers (HTTP 200)
    static void sendJson(Txn& t, const std::string& json);
    static void value(Txn& t, const nlohmann::ordered_json& v);
    static void fail(Txn& t, int number, const std::string& message);
    static void finish(Txn& t, const AlpacaResult& r);
    bool connectedOrFail(Txn& t);
    // A completion that answers t on the server's thread; then runs first.
    Completion later(Txn t, std::function<void(Txn&, const AlpacaResult&)> then = {});

    // ---- members with more to them than one value
    void putConnected(Txn& t, const FormParameters& p);
    void connectNow(Txn& t, bool sync);
    void disconnectNow(Txn& t, bool sync);
    void putBin(Txn& t, const FormParameters& p, bool x);
    void putFrame(Txn& t, const FormParameters& p, std::string_view name, int CameraFrame::*field);
    void startExposure(Txn& t, const FormParameters& p);
    void imageArray(Txn& t);
    void deviceState(Txn& t);
    void lastExposure(Txn& t, bool startTime);

    AlpacaCameraDevice& camera_;
    ServerDescription description_;
    Post post_;
    std::shared_ptr<int> alive_ = std::make_shared<int>(0);
    std::uint32_t serverTid_ = 0;
    bool connecting_ = false;
    CameraFrame frame_;
    std::vector<Member> members_;
};

// Formats a UTC time as ICamera's FITS form, CCYY-MM-DDThh:mm:ss.sss (with zulu: a 'Z' after).
std::string isoUtc(std::chrono::system_clock::time_point t, bool zulu = false);

}  // namespace kyr::alpaca
