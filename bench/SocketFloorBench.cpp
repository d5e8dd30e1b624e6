// The floor under any HTTP client in this Windows: one plain GET over Winsock,
// the body received with a fixed receive size and thrown away. It shows what
// one socket receive costs here, so a download's throughput can be read
// against what the platform itself reaches with small and with large reads.
//
//   ostrel_socket_floor.exe <IPv4 address> <port> <path> <bytes per receive>
//
// Prints one line: "bytes=<n> seconds=<s> mib_per_s=<r> receives=<k>" (body
// bytes only), or the failure and exit code 1.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr double kMiB = 1024.0 * 1024.0;

class WinsockSession {
public:
    WinsockSession() { ok_ = ::WSAStartup(MAKEWORD(2, 2), &data_) == 0; }
    ~WinsockSession() {
        if (ok_) ::WSACleanup();
    }
    WinsockSession(const WinsockSession&) = delete;
    WinsockSession& operator=(const WinsockSession&) = delete;
    bool Ok() const { return ok_; }

private:
    WSADATA data_{};
    bool ok_ = false;
};

class UniqueSocket {
public:
    explicit UniqueSocket(SOCKET socket) : socket_(socket) {}
    ~UniqueSocket() {
        if (socket_ != INVALID_SOCKET) ::closesocket(socket_);
    }
    UniqueSocket(const UniqueSocket&) = delete;
    UniqueSocket& operator=(const UniqueSocket&) = delete;
    SOCKET Get() const { return socket_; }

private:
    SOCKET socket_;
};

int Fail(const char* what) {
    std::printf("failed: %s (%d)\n", what, ::WSAGetLastError());
    return 1;
}

bool SendAll(SOCKET socket, const std::string& text) {
    size_t sent = 0;
    while (sent < text.size()) {
        const int n = ::send(socket, text.data() + sent, static_cast<int>(text.size() - sent), 0);
        if (n <= 0) return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}

// The arguments are addresses, numbers and a URL path: ASCII.
std::string Narrow(const wchar_t* text) {
    std::string narrow;
    for (; *text; ++text) narrow.push_back(static_cast<char>(*text));
    return narrow;
}

}  // namespace

int wmain(int argc, wchar_t** wideArgs) {
    std::vector<std::string> args;
    for (int i = 0; i < argc; ++i) args.push_back(Narrow(wideArgs[i]));
    if (argc != 5) {
        std::fprintf(stderr, "usage: ostrel_socket_floor.exe <address> <port> <path> <bytes per receive>\n");
        return 2;
    }
    const int receiveSize = std::atoi(args[4].c_str());
    if (receiveSize <= 0) return 2;

    WinsockSession winsock;
    if (!winsock.Ok()) return Fail("WSAStartup");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(std::atoi(args[2].c_str())));
    if (::inet_pton(AF_INET, args[1].c_str(), &address.sin_addr) != 1) return Fail("address");

    UniqueSocket socket(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    if (socket.Get() == INVALID_SOCKET) return Fail("socket");
    if (::connect(socket.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
        return Fail("connect");
    }
    const std::string request = "GET " + args[3] + " HTTP/1.1\r\nHost: " + args[1] + "\r\nConnection: close\r\n\r\n";

    LARGE_INTEGER frequency{};
    LARGE_INTEGER start{};
    LARGE_INTEGER end{};
    ::QueryPerformanceFrequency(&frequency);
    ::QueryPerformanceCounter(&start);
    if (!SendAll(socket.Get(), request)) return Fail("send");

    std::vector<char> buffer(static_cast<size_t>(receiveSize));
    unsigned long long total = 0;
    unsigned long long receives = 0;
    // The head is tiny next to the body; it is found in the first receives
    // and left out of the count.
    std::string head;
    bool inBody = false;
    for (;;) {
        const int n = ::recv(socket.Get(), buffer.data(), receiveSize, 0);
        if (n < 0) return Fail("recv");
        if (n == 0) break;
        ++receives;
        if (inBody) {
            total += static_cast<unsigned long long>(n);
            continue;
        }
        head.append(buffer.data(), static_cast<size_t>(n));
        const size_t endOfHead = head.find("\r\n\r\n");
        if (endOfHead != std::string::npos) {
            inBody = true;
            total += head.size() - (endOfHead + 4);
        }
    }
    ::QueryPerformanceCounter(&end);
    const double seconds = static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart);
    std::printf("bytes=%llu seconds=%.3f mib_per_s=%.1f receives=%llu\n", total, seconds, total / kMiB / seconds,
                receives);
    return 0;
}
