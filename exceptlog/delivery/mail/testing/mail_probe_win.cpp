// Drives one delivery form from the command line, for the tests that play
// the servers and mail clients from outside. Prints "result=0|1", the
// status texts it was given and the last delivery error, one per line.
//   mail_probe smtp [--direct] [--dns ADDRESS] [--resolve-timeout MS] [--reply-timeout MS] --host H --port N
//              --from A --to LIST --subject S --body-file F [--user U] [--password P]
//              [--attach FILE]... [--time-stamp] [--repeat N] [--implicit-tls-port N]
//              [--preload DLL]
//   (with --repeat, each delivery's time is printed as "elapsed_ms="; with
//   --paced each delivery waits for a line on the standard input, so that a
//   benchmark can take turns with other clients; with --preload the process
//   holds DLL loaded, as a host process may)
//   mail_probe smtp-bare --port N --from A --to B --file MESSAGE [--repeat N] [--paced] [--pipelined]
//   (the same dialogue on Winsock alone, the message sent as the file holds
//   it: what the system's sockets cost by themselves, for the benchmark)
//   mail_probe dns-servers
//   mail_probe trust|untrust CERTIFICATE.der   (the machine's root store)
#include <windows.h>
#include <winsock.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "exceptlog/delivery/delivery_error.h"
#include "exceptlog/delivery/mail/mx_lookup_win.h"
#include "exceptlog/delivery/mail/smtp_mail_win.h"
#include "exceptlog/delivery/testing/root_store_win.h"
#include "runtime/stream.h"

using namespace vellum::exceptlog;

namespace {

std::string ReadFile(const std::string& name) {
  vellum::MemoryStream stream;
  stream.LoadFromFile(name);
  return stream.ToString();
}

// Runs `deliver` `repeat` times, each after a line on the standard input
// when `paced`; with more than one run each one's time is printed as
// "elapsed_ms=". True when every run delivered.
bool TimedRuns(int repeat, bool paced, const std::function<bool()>& deliver) {
  bool sent = true;
  for (int run = 0; run < repeat; ++run) {
    char line[16];
    if (paced && std::fgets(line, sizeof line, stdin) == nullptr) break;
    LARGE_INTEGER frequency{};
    LARGE_INTEGER start{};
    LARGE_INTEGER end{};
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    sent = deliver() && sent;
    QueryPerformanceCounter(&end);
    if (repeat > 1) {
      std::printf("elapsed_ms=%.3f\n",
                  static_cast<double>(end.QuadPart - start.QuadPart) * 1000.0 / frequency.QuadPart);
      std::fflush(stdout);
    }
  }
  return sent;
}

int Smtp(const std::vector<std::string>& args) {
  TSmtpMessage message;
  TSmtpSession session;
  std::string to;
  bool direct = false;
  bool paced = false;
  int repeat = 1;
  for (std::size_t i = 0; i + 1 < args.size() || i < args.size(); ++i) {
    const std::string& name = args[i];
    const auto next = [&]() -> std::string { return i + 1 < args.size() ? args[++i] : std::string(); };
    if (name == "--direct") {
      direct = true;
    } else if (name == "--repeat") {
      repeat = std::stoi(next());
    } else if (name == "--paced") {
      paced = true;
    } else if (name == "--time-stamp") {
      message.Attachments.TimeStamp = vellum::DateTime{2024, 1, 31, 14, 25, 1};
    } else if (name == "--dns") {
      session.DnsServers.push_back(next());
    } else if (name == "--reply-timeout") {
      session.ReplyTimeout = static_cast<std::uint32_t>(std::stoul(next()));
    } else if (name == "--resolve-timeout") {
      session.ResolveTimeout = static_cast<std::uint32_t>(std::stoul(next()));
    } else if (name == "--host") {
      message.Host = next();
    } else if (name == "--port") {
      message.Port = static_cast<std::uint16_t>(std::stoul(next()));
    } else if (name == "--from") {
      message.From = next();
    } else if (name == "--to") {
      to = next();
    } else if (name == "--subject") {
      message.Subject = next();
    } else if (name == "--body-file") {
      message.Body = ReadFile(next());
    } else if (name == "--user") {
      message.UserID = next();
    } else if (name == "--password") {
      message.Password = next();
    } else if (name == "--preload") {
      LoadLibraryA(next().c_str());  // held to the end of the process
    } else if (name == "--implicit-tls-port") {
      session.ImplicitTlsPort = static_cast<std::uint16_t>(std::stoul(next()));
    } else if (name == "--attach") {
      message.Attachments.Files.push_back(next());
    }
  }
  session.Progress.SetStatus = [](const std::string& text) { std::printf("status=%s\n", text.c_str()); };
  session.Progress.SetCount = [](int current, int total) { std::printf("count=%d/%d\n", current, total); };
  DeliveryErrorRecorder errors;
  session.Warn = errors.Sink();
  const bool sent = TimedRuns(repeat, paced, [&] { return SendSMTPMail(direct, message, to, session); });
  std::printf("result=%d\n", sent ? 1 : 0);
  const TDeliveryError& error = errors.Last();
  std::printf("error_code=%d\nerror=%s\n", static_cast<int>(error.Code), error.Message.c_str());
  return 0;
}

// `count` replies, read until the last line of the last; false when the
// server went away or one of them was a refusal.
bool BareReplies(SOCKET socket, int count = 1) {
  std::string replies;
  std::size_t line = 0;
  bool accepted = true;
  char block[4096];
  while (count > 0) {
    const int received = recv(socket, block, sizeof block, 0);
    if (received <= 0) return false;
    replies.append(block, static_cast<std::size_t>(received));
    for (std::size_t end = replies.find("\r\n", line); end != std::string::npos && count > 0;
         end = replies.find("\r\n", line)) {
      if (end - line >= 3 && (end - line == 3 || replies[line + 3] != '-')) {
        accepted = accepted && replies[line] < '4';
        --count;
      }
      line = end + 2;
    }
  }
  return accepted;
}

bool BareSend(SOCKET socket, const std::string& text) {
  return send(socket, text.data(), static_cast<int>(text.size()), 0) == static_cast<int>(text.size());
}

// With `pipelined`, the envelope and DATA go in one write and QUIT with the
// message, as to a server that offers PIPELINING.
bool BareDelivery(std::uint16_t port, const std::string& from, const std::string& to, const std::string& message,
                  bool pipelined) {
  const SOCKET socket = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  const BOOL no_delay = TRUE;
  setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&no_delay), sizeof no_delay);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const std::string mail = "MAIL FROM:<" + from + ">\r\n";
  const std::string rcpt = "RCPT TO:<" + to + ">\r\n";
  bool sent = connect(socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
              BareReplies(socket) && BareSend(socket, "EHLO bare\r\n") && BareReplies(socket);
  if (pipelined) {
    sent = sent && BareSend(socket, mail + rcpt + "DATA\r\n") && BareReplies(socket, 3) &&
           BareSend(socket, message + "QUIT\r\n") && BareReplies(socket, 2);
  } else {
    sent = sent && BareSend(socket, mail) && BareReplies(socket) && BareSend(socket, rcpt) && BareReplies(socket) &&
           BareSend(socket, "DATA\r\n") && BareReplies(socket) && BareSend(socket, message) && BareReplies(socket) &&
           BareSend(socket, "QUIT\r\n") && BareReplies(socket);
  }
  closesocket(socket);
  return sent;
}

int BareSmtp(const std::vector<std::string>& args) {
  std::uint16_t port = 0;
  std::string from;
  std::string to;
  std::string message;
  int repeat = 1;
  bool paced = false;
  bool pipelined = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--paced" || args[i] == "--pipelined") {
      (args[i] == "--paced" ? paced : pipelined) = true;
      continue;
    }
    if (i + 1 == args.size()) break;
    if (args[i] == "--port") port = static_cast<std::uint16_t>(std::stoul(args[i + 1]));
    if (args[i] == "--from") from = args[i + 1];
    if (args[i] == "--to") to = args[i + 1];
    if (args[i] == "--file") message = ReadFile(args[i + 1]);
    if (args[i] == "--repeat") repeat = std::stoi(args[i + 1]);
    ++i;
  }
  if (message.size() < 2 || message.compare(message.size() - 2, 2, "\r\n") != 0) message += "\r\n";
  message += ".\r\n";
  WSADATA data{};
  WSAStartup(0x0101, &data);
  const bool sent = TimedRuns(repeat, paced, [&] { return BareDelivery(port, from, to, message, pipelined); });
  WSACleanup();
  std::printf("result=%d\n", sent ? 1 : 0);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty()) return 2;
  const std::vector<std::string> rest(args.begin() + 1, args.end());
  if (args[0] == "smtp") return Smtp(rest);
  if (args[0] == "smtp-bare") return BareSmtp(rest);
  if (args[0] == "dns-servers") {
    for (const auto& server : GetDNSServers()) std::printf("server=%s\n", server.c_str());
    return 0;
  }
  if ((args[0] == "trust" || args[0] == "untrust") && rest.size() == 1) {
    const DWORD error = testing::SetRootTrust(ReadFile(rest[0]), args[0] == "trust");
    std::printf("result=%lu\n", error);
    return error == 0 ? 0 : 1;
  }
  return 2;
}
