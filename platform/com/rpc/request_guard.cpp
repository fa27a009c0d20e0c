#include "platform/com/rpc/request_guard.h"

#include <google/protobuf/stubs/logging.h>

#include <cstdio>
#include <mutex>
#include <string>

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

MalformedRequestAnswer::MalformedRequestAnswer() {
  static std::once_flag once;
  std::call_once(once, [] { google::protobuf::SetLogHandler(&QuietParseErrors); });
}

grpc::experimental::Interceptor* MalformedRequestAnswer::CreateServerInterceptor(
    grpc::experimental::ServerRpcInfo*) {
  return new Answer;
}

}  // namespace platform::com::rpc
