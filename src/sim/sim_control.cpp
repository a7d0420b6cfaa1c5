#include "sim/sim_control.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace kyr::sim {

namespace {

std::string trim(const std::string& s) {
    const auto b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) return "";
    const auto e = s.find_last_not_of(" \t\r\n");
    return s.substr(b, e - b + 1);
}

std::string joined(const std::vector<int>& v) {
    if (v.empty()) return "none";
    std::string s;
    for (std::size_t i = 0; i < v.size(); ++i) s += (i ? "," : "") + std::to_string(v[i]);
    return s;
}

std::string rateText(double r) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%.3f", r);
    return buf;
}

bool parseOnOff(const std::string& s, bool& v) {
    if (s == "on")
        v = true;
    else if (s == "off")
        v = false;
    else
        return false;
    return true;
}

ControlReply ok(std::string text = {}) {
    return {text + "ok\n", false};
}
ControlReply error(const std::string& why) {
    return {"error: " + why + "\n", false};
}

}  // namespace

const char* controlHelp() {
    return "  offer             offer the screen image (type 0)\n"
           "  flash             announce a flash download (type 1)\n"
           "  link              ask the console for a link (type 255)\n"
           "  nak               send \"did not understand\" (type 21)\n"
           "  new-image         take a new screen image (new time, new pixels)\n"
           "  display TEXT      show TEXT (48 characters; '|' starts the second line)\n"
           "  refresh           send the panel's current display again\n"
           "  idle              one idle tick (sensor drift; the main screen updates)\n"
           "  buffers LIST      filled buffers, e.g. 0,3,7 or none\n"
           "  raw-rows on|off   answer row requests uncompressed (type 5)\n"
           "  whole-rows on|off answer row requests with whole rows, whatever the columns\n"
           "  junk R | corrupt R | drop R   fault rates, 0 <= R < 1\n"
           "  split on|off      deliver answers in small random pieces\n"
           "  status            what the device has seen (keys, save acks, upload)\n"
           "  help              this list\n"
           "  quit              end the simulator\n";
}

bool parseBufferList(const std::string& text, std::vector<int>& buffers) {
    const std::string t = trim(text);
    buffers.clear();
    if (t == "none" || t.empty()) return t == "none";
    std::stringstream ss(t);
    std::string item;
    while (std::getline(ss, item, ',')) {
        item = trim(item);
        if (item.empty() || item.size() > 2) return false;
        for (char c : item) {
            if (c < '0' || c > '9') return false;
        }
        const int b = std::atoi(item.c_str());
        if (b >= kStoredBuffers) return false;
        buffers.push_back(b);
    }
    return !buffers.empty();
}

bool parseRate(const std::string& text, double& rate) {
    const std::string t = trim(text);
    if (t.empty()) return false;
    char* end = nullptr;
    const double r = std::strtod(t.c_str(), &end);
    if (end != t.c_str() + t.size() || !(r >= 0.0 && r < 1.0)) return false;
    rate = r;
    return true;
}

std::string statusReport(const SimDevice& d) {
    const SimStats& s = d.stats();
    const auto& n = s.packetsByType;
    std::string keys = std::to_string(s.keys.size());
    if (!s.keys.empty()) {
        char buf[16];
        std::snprintf(buf, sizeof buf, " last=0x%04X", s.keys.back());
        keys += buf;
    }
    const FaultSettings& f = d.options().faults;
    std::string upload = uploadResultName(d.uploadResult());
    if (d.uploadResult() == UploadResult::InProgress) {
        upload += " (" + std::to_string(d.uploadPagesReceived()) + " of 192 pages)";
    }
    if (!d.uploadDetail().empty()) upload += ": " + d.uploadDetail();
    std::string out;
    out += std::string("link: ") + (d.linkUp() ? "up" : "down") + "\n";
    const std::string t = d.displayText();
    out += "display: |" + t.substr(0, 24) + "|" + t.substr(24) + "|\n";
    out += "keys: " + keys + "\n";
    out += "save-acks: " + joined(s.saveAcks) + "\n";
    out += "buffers: " + joined(d.filledBuffers()) + "\n";
    out += "packets: link=" + std::to_string(n[9]) + " keys=" + std::to_string(n[8]) +
           " headers=" + std::to_string(n[4]) + " rows=" + std::to_string(n[7]) +
           " raw-rows=" + std::to_string(n[5]) + " reports=" + std::to_string(n[3]) +
           " end-transfers=" + std::to_string(n[2]) + " declines=" + std::to_string(n[1]) +
           " link-accepts=" + std::to_string(n[254]) + "\n";
    out += "faults: junk=" + rateText(f.junkRate) + " corrupt=" + rateText(f.corruptRate) +
           " drop=" + rateText(f.dropRate) + " split=" + (f.split ? "on" : "off") +
           " raw-rows=" + (d.options().rawRows ? "on" : "off") +
           " whole-rows=" + (d.options().wholeRows ? "on" : "off") +
           " dropped=" + std::to_string(s.answersDropped) +
           " corrupted=" + std::to_string(s.answersCorrupted) +
           " junk-bursts=" + std::to_string(s.junkBursts) + "\n";
    out += "upload: " + upload + "\n";
    out += "errors: bad-checksums=" + std::to_string(s.badChecksums) +
           " not-understood=" + std::to_string(s.unknownPackets) + "\n";
    return out;
}

ControlReply runControlCommand(SimDevice& d, const std::string& line) {
    const std::string t = trim(line);
    const auto space = t.find(' ');
    const std::string cmd = t.substr(0, space);
    const std::string arg = space == std::string::npos ? "" : trim(t.substr(space + 1));
    if (cmd.empty()) return {"", false};  // blank lines are ignored
    if (cmd == "offer") return d.offerScreenImage(), ok();
    if (cmd == "flash") return d.announceFlashDownload(), ok();
    if (cmd == "link") return d.requestLink(), ok();
    if (cmd == "nak") return d.sendDidNotUnderstand(), ok();
    if (cmd == "new-image") return d.takeScreenImage(), ok();
    if (cmd == "refresh") return d.sendDisplay(), ok();
    if (cmd == "idle") return d.idleTick(), ok();
    if (cmd == "status") return ok(statusReport(d));
    if (cmd == "help") return ok(controlHelp());
    if (cmd == "quit") return {"ok\n", true};
    if (cmd == "display") {
        // The argument as typed (only the command word is trimmed off).
        std::string text = line.substr(line.find(cmd) + cmd.size());
        if (!text.empty() && text.front() == ' ') text.erase(0, 1);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
        const auto bar = text.find('|');
        if (bar != std::string::npos)
            text = displayLines(text.substr(0, bar), text.substr(bar + 1));
        d.showText(text);
        return ok();
    }
    if (cmd == "buffers") {
        std::vector<int> b;
        if (!parseBufferList(arg, b))
            return error("buffers: give numbers 0..30 like 0,3,7, or none");
        d.setFilledBuffers(b);
        return ok();
    }
    if (cmd == "raw-rows") {
        bool v;
        if (!parseOnOff(arg, v)) return error("raw-rows: give on or off");
        d.setRawRows(v);
        return ok();
    }
    if (cmd == "whole-rows") {
        bool v;
        if (!parseOnOff(arg, v)) return error("whole-rows: give on or off");
        d.setWholeRows(v);
        return ok();
    }
    if (cmd == "split") {
        FaultSettings f = d.options().faults;
        if (!parseOnOff(arg, f.split)) return error("split: give on or off");
        d.setFaults(f);
        return ok();
    }
    if (cmd == "junk" || cmd == "corrupt" || cmd == "drop") {
        FaultSettings f = d.options().faults;
        double& r = cmd == "junk" ? f.junkRate : cmd == "corrupt" ? f.corruptRate : f.dropRate;
        if (!parseRate(arg, r)) return error(cmd + ": give a rate 0 <= R < 1");
        d.setFaults(f);
        return ok();
    }
    return error("unknown command \"" + cmd + "\" (try help)");
}

}  // namespace kyr::sim
