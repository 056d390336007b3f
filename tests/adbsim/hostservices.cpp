// adbsim's host services: one connection from accept to close, its host: requests
// (a four-hex-digit length and a service name) and the switch into sync mode.
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <cstdio>

#include "adbsim.h"

namespace adbsim {

namespace {
constexpr const char* kServerVersion = "0029";  // the version host:version reports
// A device of recent years, and one from before the v2 sync records.
constexpr const char* kFeaturesV2 =
    "shell_v2,cmd,stat_v2,ls_v2,fixed_push_mkdir,apex,abb,fixed_push_symlink_timestamp,abb_exec";
constexpr const char* kFeaturesV1 = "shell_v2,cmd";
constexpr const char* kSerialFeaturesPrefix = "host-serial:";
constexpr const char* kFeaturesSuffix = ":features";
constexpr int kLingerMs = 2000;              // how long a closing connection is drained
constexpr std::size_t kDrainBuffer = 65536;  // bytes per read while draining
constexpr int kDrainPollMs = 100;            // how often the drain looks at the stop flag

enum class HostResult { Continue, EnterSync, Close };

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string hex4(std::size_t value) {
    char digits[8];
    std::snprintf(digits, sizeof digits, "%04zx", value);
    return digits;
}

void sendOkay(Session& session) {
    sendRecord(session, "OKAY");
}

void sendHostFail(Session& session, const std::string& text) {
    sendRecord(session, "FAIL" + hex4(text.size()) + text);
}

// Picks the device of a transport request, or returns the FAIL text.
const Device* chooseDevice(const Config& config, const std::string& service,
                           std::string& failText) {
    static const std::vector<Device> none;
    // Vanished devices answer as if they were not attached.
    const std::vector<Device>& devices = devicesVanished() ? none : config.devices;
    const Device* found = nullptr;
    if (service == "host:transport-any") {
        if (devices.empty())
            failText = "no devices/emulators found";
        else if (devices.size() > 1)
            failText = "more than one device/emulator";
        else
            found = &devices[0];
    } else if (service == "host:transport-local" || service == "host:transport-usb") {
        bool wantLocal = service == "host:transport-local";
        int count = 0;
        for (const Device& device : devices) {
            if (device.local != wantLocal) continue;
            found = &device;
            count++;
        }
        if (count == 0) failText = wantLocal ? "no emulators found" : "no devices found";
        if (count > 1) failText = wantLocal ? "more than one emulator" : "more than one device";
        if (count != 1) found = nullptr;
    } else {
        std::string serial = service.substr(std::string("host:transport:").size());
        for (const Device& device : devices)
            if (device.serial == serial) found = &device;
        if (!found) failText = "device '" + serial + "' not found";
    }
    return found;
}

// The transport request whose device a feature request asks about; empty when the
// service is none.
std::string featureTransport(const std::string& service) {
    if (service == "host:features") return "host:transport-any";
    if (service == "host-local:features") return "host:transport-local";
    if (service == "host-usb:features") return "host:transport-usb";
    std::string prefix = kSerialFeaturesPrefix;
    std::string suffix = kFeaturesSuffix;
    if (service.size() > prefix.size() + suffix.size() && service.rfind(prefix, 0) == 0 &&
        service.compare(service.size() - suffix.size(), suffix.size(), suffix) == 0)
        return "host:transport:" +
               service.substr(prefix.size(), service.size() - prefix.size() - suffix.size());
    return "";
}

// A feature request: FAIL like the matching transport request, or the list.
HostResult serveFeatures(Session& session, const std::string& service,
                         const std::string& transport) {
    StepPlan plan = beginStep(session, Step::Features, service);
    if (plan.raw) {
        sendBytes(session, plan.raw->data(), plan.raw->size());
        return HostResult::Close;
    }
    if (plan.fail) {
        sendHostFail(session, *plan.fail);
        return HostResult::Close;
    }
    std::string failText;
    if (!chooseDevice(*session.config, transport, failText)) {
        sendHostFail(session, failText);
        return HostResult::Close;
    }
    std::string list = featureList(*session.config);
    sendRecord(session, "OKAY" + hex4(list.size()) + list);
    return HostResult::Close;
}

HostResult serveHostRequest(Session& session, const std::string& service) {
    std::string featuresOf = featureTransport(service);
    if (!featuresOf.empty()) return serveFeatures(session, service, featuresOf);
    bool transport = service.rfind("host:transport", 0) == 0;
    bool sync = service == "sync:";
    Step step = transport ? Step::Transport : sync ? Step::Sync : Step::Any;
    StepPlan plan;
    if (step != Step::Any) plan = beginStep(session, step, service);
    if (plan.raw) {
        sendBytes(session, plan.raw->data(), plan.raw->size());
        return transport ? HostResult::Continue : sync ? HostResult::EnterSync : HostResult::Close;
    }
    if (plan.fail) {
        sendHostFail(session, *plan.fail);
        return HostResult::Close;
    }
    if (service == "host:version") {
        sendRecord(session, std::string("OKAY") + hex4(4) + kServerVersion);
        return HostResult::Close;
    }
    bool knownTransport = service == "host:transport-any" || service == "host:transport-local" ||
                          service == "host:transport-usb" ||
                          service.rfind("host:transport:", 0) == 0;
    // A device service without a transport goes to the one device, like the real server.
    if (knownTransport || (sync && !session.device)) {
        std::string failText;
        const Device* device = chooseDevice(
            *session.config, knownTransport ? service : "host:transport-any", failText);
        if (!device) {
            sendHostFail(session, failText);
            return HostResult::Close;
        }
        session.device = device;
        if (knownTransport) {
            sendOkay(session);
            return HostResult::Continue;
        }
    }
    if (sync) {
        sendOkay(session);
        return HostResult::EnterSync;
    }
    sendHostFail(session, "unknown host service");
    return HostResult::Close;
}

// True when the connection entered sync mode.
bool serveHostRequests(Session& session) {
    for (;;) {
        char digits[kHostLengthDigits];
        receiveExact(session, digits, sizeof digits);
        std::size_t length = 0;
        for (char c : digits) {
            int d = hexValue(c);
            if (d < 0) {
                logRequest("BAD-LENGTH " + printable(std::string(digits, sizeof digits)));
                throw SessionEnd{"request length is not four hex digits"};
            }
            length = length * 16 + std::size_t(d);
        }
        std::string service(length, '\0');
        receiveExact(session, service.data(), length);
        logRequest(printable(service));
        switch (serveHostRequest(session, service)) {
        case HostResult::Continue:
            break;
        case HostResult::EnterSync:
            return true;
        case HostResult::Close:
            return false;
        }
    }
}

// Ends the connection without losing the last reply: the peer gets an orderly end
// of stream, and what it still sends is read for a short while so that closing does
// not reset the connection under unread data.
void closeGracefully(int fd) {
    shutdown(fd, SHUT_WR);
    static thread_local char sink[kDrainBuffer];  // connections in sync mode run in threads
    for (int waited = 0; waited < kLingerMs && !stopRequested;) {
        pollfd p{fd, POLLIN, 0};
        int n = poll(&p, 1, kDrainPollMs);
        if (n == 0) {
            waited += kDrainPollMs;
            continue;
        }
        if (n < 0 || recv(fd, sink, sizeof sink, 0) <= 0) break;
    }
    close(fd);
}

void endConnection(Session& session) {
    finishReplyDelay(session);
    closeGracefully(session.fd);
    logRequest("CLOSE");
}

void serveSyncToEnd(std::unique_ptr<Session> session) {
    try {
        serveSync(*session);
    } catch (const SessionEnd& end) {
        note("connection ended: " + end.reason);
    }
    endConnection(*session);
}

}  // namespace

const char* featureList(const Config& config) {
    return config.syncV2 ? kFeaturesV2 : kFeaturesV1;
}

void serveConnection(const Config& config, int fd, std::vector<std::thread>* syncThreads) {
    auto session = std::make_unique<Session>();
    session->fd = fd;
    session->config = &config;
    logRequest("CONNECT");
    bool sync = false;
    try {
        startReplyDelay(*session);
        startSession(*session);
        beginStep(*session, Step::Connect, "");
        sync = serveHostRequests(*session);
    } catch (const SessionEnd& end) {
        note("connection ended: " + end.reason);
    }
    if (!sync)
        endConnection(*session);
    else if (syncThreads)
        syncThreads->emplace_back(serveSyncToEnd, std::move(session));
    else
        serveSyncToEnd(std::move(session));
}

}  // namespace adbsim
