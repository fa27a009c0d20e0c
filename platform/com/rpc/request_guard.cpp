#include "platform/com/rpc/request_guard.h"

#include <google/protobuf/stubs/logging.h>
#include <grpc/support/log.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <string>

// The transport library's own writer of its lines, which ours hands the others to.
void gpr_default_log(gpr_log_func_args* args);

namespace platform::com::rpc {

namespace {

using grpc::experimental::InterceptionHookPoints;

// The protocol library reports a text field that is no UTF-8 as an error line of its own, on
// parsing and on serializing. On parsing it is what a peer sent, which the call's answer
// already covers; on serializing it is a fault of this process and must be seen. Every line
// but the first kind goes out as the library writes it.
void QuietParseErrors(google::protobuf::LogLevel level, const char* file, int line, const std::string& message) {
  if (level < google::protobuf::LOGLEVEL_FATAL && message.find("when parsing") != std::string::npos) return;
  static const char* const kLevels[] = {"INFO", "WARNING", "ERROR", "FATAL"};
  std::fprintf(stderr, "[libprotobuf %s %s:%d] %s\n", kLevels[level], file, line, message.c_str());
}

// The transport library's lines from reading what a peer sent: its TLS handshake and its
// HTTP/2 parsing. What a peer sends can cause them at will; the rest is this process's own.
bool AboutPeer(const char* file) {
  return file && (std::strstr(file, "/tsi/") || std::strstr(file, "security_handshaker") ||
                  std::strstr(file, "/chttp2/transport/"));
}

// A peer can make the library write lines at will, and vary them (another kind of junk, another
// handshake error) at will too. So each text is written the first time it comes in a minute,
// its repeats are counted and said when the minute is over or the server stops, and beyond a
// few texts in a minute the rest are only counted.
class PeerLines {
 public:
  int Set(std::function<void(const std::string&)> log) {
    std::lock_guard lock(mutex_);
    FlushLocked();
    log_ = std::move(log);
    return ++id_;
  }
  void Stop(int id) {
    std::lock_guard lock(mutex_);
    if (id != id_) return;
    FlushLocked();
    log_ = nullptr;
  }
  // False when no log takes them.
  bool Write(const std::string& line) {
    std::lock_guard lock(mutex_);
    if (!log_) return false;
    const auto now = std::chrono::steady_clock::now();
    if (now - window_ >= kWindow) {
      FlushLocked();
      window_ = now;
    }
    auto it = seen_.find(line);
    if (it != seen_.end()) {
      ++it->second;
    } else if (seen_.size() < kTexts) {
      seen_.emplace(line, 0);
      log_(line);
    } else {
      ++others_;
    }
    return true;
  }

 private:
  static constexpr auto kWindow = std::chrono::minutes(1);
  static constexpr size_t kTexts = 16;

  void FlushLocked() {
    if (log_) {
      for (const auto& [line, repeats] : seen_) {
        if (repeats > 0) log_("(\"" + line + "\" came " + std::to_string(repeats) + " times more)");
      }
      if (others_ > 0) log_("(" + std::to_string(others_) + " more such lines of other texts were left out)");
    }
    seen_.clear();
    others_ = 0;
  }
  std::mutex mutex_;
  std::function<void(const std::string&)> log_;
  std::chrono::steady_clock::time_point window_ = std::chrono::steady_clock::now();
  std::map<std::string, size_t> seen_;  // the texts written in this minute, and their repeats
  size_t others_ = 0;
  int id_ = 0;
};

PeerLines& ThePeerLines() {
  static PeerLines* lines = new PeerLines;  // used by the library's threads until the very end
  return *lines;
}

void RouteTransportLine(gpr_log_func_args* args) {
  if (args->severity >= GPR_LOG_SEVERITY_ERROR && AboutPeer(args->file) &&
      ThePeerLines().Write(std::string("a peer's connection: ") + (args->message ? args->message : ""))) {
    return;
  }
  gpr_default_log(args);
}

class Answer final : public grpc::experimental::Interceptor {
 public:
  void Intercept(grpc::experimental::InterceptorBatchMethods* methods) override {
    // The message arrives as nothing when it did not parse.
    if (methods->QueryInterceptionHookPoint(InterceptionHookPoints::POST_RECV_MESSAGE) &&
        methods->GetRecvMessage() == nullptr) {
      malformed_ = true;
    }
    if (malformed_ && methods->QueryInterceptionHookPoint(InterceptionHookPoints::PRE_SEND_STATUS)) {
      methods->ModifySendStatus(grpc::Status(grpc::StatusCode::INVALID_ARGUMENT, "the request is no valid message"));
    }
    methods->Proceed();
  }

 private:
  bool malformed_ = false;
};

}  // namespace

int SendPeerLinesTo(std::function<void(const std::string&)> log) {
  static std::once_flag once;
  std::call_once(once, [] { gpr_set_log_function(&RouteTransportLine); });
  return ThePeerLines().Set(std::move(log));
}

void StopPeerLines(int id) { ThePeerLines().Stop(id); }

MalformedRequestAnswer::MalformedRequestAnswer() {
  static std::once_flag once;
  std::call_once(once, [] { google::protobuf::SetLogHandler(&QuietParseErrors); });
}

grpc::experimental::Interceptor* MalformedRequestAnswer::CreateServerInterceptor(
    grpc::experimental::ServerRpcInfo*) {
  return new Answer;
}

}  // namespace platform::com::rpc
