#include "net/connection_format.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace {

constexpr uint32_t kStopCheckMs = 25;

const char* const kTcpStates[] = {"CLOSED",     "LISTENING", "SYN_SENT", "SYN_RCVD", "ESTABLISHED", "FIN_WAIT1",
                                  "FIN_WAIT2",  "CLOSE_WAIT", "CLOSING",  "LAST_ACK", "TIME_WAIT",   "DELETE_TCB"};

uint16_t HostPort(uint32_t port) { return static_cast<uint16_t>(((port & 0xFF) << 8) | ((port >> 8) & 0xFF)); }

}  // namespace

NetAddress Ipv4Address(uint32_t networkOrder) {
    NetAddress a{};
    a.family = kFamilyIpv4;
    for (int i = 0; i < 4; ++i) a.bytes[i] = static_cast<uint8_t>(networkOrder >> (8 * i));
    return a;
}

NetAddress Ipv6Address(const uint8_t* bytes) {
    NetAddress a{};
    a.family = kFamilyIpv6;
    std::memcpy(a.bytes, bytes, sizeof a.bytes);
    return a;
}

bool operator<(const NetAddress& a, const NetAddress& b) {
    if (a.family != b.family) return a.family < b.family;
    return std::memcmp(a.bytes, b.bytes, sizeof a.bytes) < 0;
}

void CopyText(char* out, size_t size, const char* text) {
    if (!out || size == 0) return;
    size_t n = 0;
    for (; text && text[n] && n + 1 < size; ++n) out[n] = text[n];
    out[n] = '\0';
}

char* FormatAddress(uint32_t address, uint32_t state, char* out, size_t size) {
    if (state == 2) {
        CopyText(out, size, kUnknownText);
    } else if (size) {
        std::snprintf(out, size, "%u.%u.%u.%u", address & 0xFF, (address >> 8) & 0xFF, (address >> 16) & 0xFF,
                      address >> 24);
    }
    return out;
}

namespace {

void FormatIpv6(const uint8_t* bytes, char* out, size_t size) {
    uint16_t groups[8];
    for (int i = 0; i < 8; ++i) groups[i] = static_cast<uint16_t>(bytes[2 * i] << 8 | bytes[2 * i + 1]);
    if (!groups[0] && !groups[1] && !groups[2] && !groups[3] && !groups[4] && groups[5] == 0xFFFF) {
        std::snprintf(out, size, "::ffff:%u.%u.%u.%u", bytes[12], bytes[13], bytes[14], bytes[15]);
        return;
    }
    int runStart = -1;
    int runLength = 1;  // a single zero group is written as "0"
    for (int i = 0; i < 8;) {
        int end = i;
        while (end < 8 && groups[end] == 0) ++end;
        if (end - i > runLength) {
            runStart = i;
            runLength = end - i;
        }
        i = end > i ? end : i + 1;
    }
    char text[kAddressTextSize];
    size_t at = 0;
    for (int i = 0; i < 8; ++i) {
        if (i == runStart) {
            text[at++] = ':';
            text[at++] = ':';
            i += runLength - 1;
            continue;
        }
        if (at > 0 && text[at - 1] != ':') text[at++] = ':';
        at += static_cast<size_t>(std::snprintf(text + at, sizeof text - at, "%x", groups[i]));
    }
    text[at] = '\0';
    CopyText(out, size, text);
}

}  // namespace

char* FormatAddress(const NetAddress& address, uint32_t state, char* out, size_t size) {
    if (address.family != kFamilyIpv6 || state == 2) {
        uint32_t ipv4 = 0;
        for (int i = 0; i < 4; ++i) ipv4 |= static_cast<uint32_t>(address.bytes[i]) << (8 * i);
        return FormatAddress(ipv4, state, out, size);
    }
    FormatIpv6(address.bytes, out, size);
    return out;
}

char* FormatTcpState(uint32_t state, char* out, size_t size) {
    CopyText(out, size, state >= 1 && state <= 12 ? kTcpStates[state - 1] : kUnknownText);
    return out;
}

// What the lookup threads and the listings share. It outlives the ConnectionNames
// while a lookup that does not answer still holds it.
struct ConnectionNames::Shared {
    enum class State { Pending, Answered, Failed };
    struct Host {
        State state;
        std::string name;
    };
    NameServiceOps ops;
    std::mutex mutex;
    std::condition_variable changed;
    std::map<NetAddress, Host> hosts;
    std::deque<NetAddress> queue;
    unsigned running = 0;
    std::map<uint16_t, std::string> services;  // "" when the database lacks the port

    // A lookup thread: answers queued addresses until none is left.
    static void Serve(std::shared_ptr<Shared> shared) {
        std::unique_lock<std::mutex> lock(shared->mutex);
        while (!shared->queue.empty()) {
            const NetAddress address = shared->queue.front();
            shared->queue.pop_front();
            lock.unlock();
            char name[kHostTextSize] = "";
            const bool answered = shared->ops.hostByAddress(shared->ops.context, address, name, sizeof name);
            name[sizeof name - 1] = '\0';
            lock.lock();
            Host& host = shared->hosts[address];
            host.state = answered ? State::Answered : State::Failed;
            host.name = answered ? name : "";
            shared->changed.notify_all();
        }
        --shared->running;
    }
};

ConnectionNames::ConnectionNames(const NameServiceOps& ops, const char* localHostName, uint32_t deadlineMs,
                                 unsigned maxThreads)
    : shared_(std::make_shared<Shared>()),
      localHostName_(localHostName ? localHostName : ""),
      deadlineMs_(deadlineMs),
      maxThreads_(maxThreads ? maxThreads : 1) {
    shared_->ops = ops;
}

// Lookup threads that are still waiting for an answer keep the shared state alive.
ConnectionNames::~ConnectionNames() = default;

bool ConnectionNames::IsLocal(const NetAddress& address) {
    static const uint8_t kZero[16] = {};
    static const uint8_t kLoopback4[4] = {127, 0, 0, 1};
    static const uint8_t kLoopback6[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    if (address.family == kFamilyIpv6) {
        return !std::memcmp(address.bytes, kZero, 16) || !std::memcmp(address.bytes, kLoopback6, 16);
    }
    return !std::memcmp(address.bytes, kZero, 4) || !std::memcmp(address.bytes, kLoopback4, 4);
}

// Queues the addresses that have neither an answer nor a lookup, and starts threads
// for them within the bound. Called with the mutex held.
void ConnectionNames::StartLookups(const NetAddress* addresses, size_t count) {
    Shared& s = *shared_;
    for (size_t i = 0; i < count; ++i) {
        if (IsLocal(addresses[i])) continue;
        if (s.hosts.emplace(addresses[i], Shared::Host{Shared::State::Pending, std::string()}).second) {
            s.queue.push_back(addresses[i]);
        }
    }
    while (s.running < maxThreads_ && s.running < s.queue.size()) {
        try {
            std::thread(Shared::Serve, shared_).detach();
        } catch (const std::system_error&) {
            break;  // the running threads serve the queue
        }
        ++s.running;
    }
}

namespace {
uint64_t SteadyMs() {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
}
}  // namespace

uint64_t ConnectionNames::StartResolve(const NetAddress* addresses, size_t count) {
    const uint64_t deadline = SteadyMs() + deadlineMs_;
    std::lock_guard<std::mutex> lock(shared_->mutex);
    StartLookups(addresses, count);
    return deadline;
}

uint32_t ConnectionNames::WaitForAnswers(const NetAddress* addresses, size_t count, uint64_t deadline,
                                         bool (*stopRequested)(void*), void* stopContext) {
    std::unique_lock<std::mutex> lock(shared_->mutex);
    std::vector<NetAddress> waiting;
    for (size_t i = 0; i < count; ++i) {
        const auto found = shared_->hosts.find(addresses[i]);
        if (found != shared_->hosts.end() && found->second.state == Shared::State::Pending) waiting.push_back(addresses[i]);
    }
    while (!waiting.empty()) {
        if (stopRequested) {
            lock.unlock();
            const bool stop = stopRequested(stopContext);
            lock.lock();
            if (stop) return 3;
        }
        const uint64_t now = SteadyMs();
        if (now >= deadline) break;
        const uint64_t slice = deadline - now < kStopCheckMs ? deadline - now : kStopCheckMs;
        shared_->changed.wait_for(lock, std::chrono::milliseconds(slice));
        std::vector<NetAddress> still;
        for (const NetAddress& a : waiting) {
            if (shared_->hosts[a].state == Shared::State::Pending) still.push_back(a);
        }
        waiting.swap(still);
    }
    return 0;
}

uint32_t ConnectionNames::Resolve(const NetAddress* addresses, size_t count, bool (*stopRequested)(void*),
                                  void* stopContext) {
    return WaitForAnswers(addresses, count, StartResolve(addresses, count), stopRequested, stopContext);
}

char* ConnectionNames::FormatHostName(const NetAddress& address, uint32_t state, char* out, size_t size) {
    if (state == 2) {
        CopyText(out, size, kUnknownText);
    } else if (IsLocal(address)) {
        CopyText(out, size, localHostName_.c_str());
    } else {
        std::lock_guard<std::mutex> lock(shared_->mutex);
        const auto found = shared_->hosts.find(address);
        if (found == shared_->hosts.end()) StartLookups(&address, 1);
        const bool named = found != shared_->hosts.end() && found->second.state == Shared::State::Answered;
        CopyText(out, size, named ? found->second.name.c_str() : kUnknownText);
    }
    return out;
}

char* ConnectionNames::FormatHostName(uint32_t address, uint32_t state, char* out, size_t size) {
    return FormatHostName(Ipv4Address(address), state, out, size);
}

char* ConnectionNames::FormatPort(uint32_t port, uint32_t state, char* out, size_t size) {
    if (state == 2) {
        CopyText(out, size, kUnknownText);
        return out;
    }
    const uint16_t networkPort = static_cast<uint16_t>(port & 0xFFFF);
    std::string service;
    {
        std::lock_guard<std::mutex> lock(shared_->mutex);
        auto found = shared_->services.find(networkPort);
        if (found == shared_->services.end()) {
            char name[kServiceNameSize] = "";
            const bool known = shared_->ops.serviceByPort &&
                               shared_->ops.serviceByPort(shared_->ops.context, networkPort, name, sizeof name);
            name[sizeof name - 1] = '\0';
            found = shared_->services.emplace(networkPort, known ? name : "").first;
        }
        service = found->second;
    }
    if (size == 0) return out;
    if (service.empty()) {
        std::snprintf(out, size, "%u", HostPort(port));
    } else {
        std::snprintf(out, size, "%u (%s)", HostPort(port), service.c_str());
    }
    return out;
}
