#include "host/host_server.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "platform/cp1252.h"

namespace host {

namespace com = platform::com;

com::DaServerOptions ModelOptions(const platform::toolkit::TServerInitData& record, bool connection_points) {
  com::DaServerOptions o;
  o.fastest_rate_ms = HostServer::kFastestRateMs;
  const char* vendor = record.VendorInfo;
  o.vendor_info = vendor ? platform::Cp1252ToUtf8(vendor) : std::string();
  o.major_version = record.MajorVersion;
  o.minor_version = record.MinorVersion;
  o.build_number = record.BuildNumber;
  o.connection_points = connection_points;
  return o;
}

com::HRESULT HostServer::Start(const platform::toolkit::TServerInitData& record, const NameSpace& ns,
                               com::DaBackend& backend, const ServeSettings& settings, std::unique_ptr<HostServer>* out,
                               std::string* error) {
  std::unique_ptr<HostServer> s(new HostServer);
  platform::Clock& clock = settings.clock ? *settings.clock : platform::DefaultClock();
  s->clock_ = &clock;
  s->model_ = com::DaServerModel::Create(ns.Space(), backend, clock, ModelOptions(record, settings.connection_points));
  for (const auto& [id, properties] : ns.Properties()) s->model_->SetProperties(id, properties);
  com::rpc::ServeOptions endpoint = settings.endpoint;
  if (!endpoint.error_log) {
    endpoint.error_log = [](const std::string& line) { std::fprintf(stderr, "ostrel-host: %s\n", line.c_str()); };
  }
  std::string why;
  com::HRESULT hr = com::rpc::ServerEndpoint::Start(
      record.ClassId, [model = s->model_] { return model->NewServer(); }, endpoint, &s->endpoint_, &why);
  if (com::FAILED(hr)) {
    if (error) *error = why;
    return hr;
  }
  s->poller_ = std::thread([p = s.get()] { p->PollLoop(); });
  *out = std::move(s);
  return com::S_OK;
}

HostServer::~HostServer() { Stop(""); }

void HostServer::PollLoop() {
  std::unique_lock lock(mutex_);
  while (!stopping_) {
    lock.unlock();
    // The model's clock decides which group is due; the wait here only paces the loop, and
    // never longer than the fastest rate, so a new group is served in time. The time the poll
    // took counts, or every period would grow by it.
    const uint32_t start = clock_->TickMs();
    const uint32_t next = std::min<uint32_t>(model_->Poll(), kFastestRateMs);
    const uint32_t took = clock_->TickMs() - start;
    lock.lock();
    if (took < next)
      wake_.wait_for(lock, std::chrono::milliseconds(next - took), [this] { return stopping_; });
  }
}

void HostServer::Stop(const std::string& reason) {
  {
    std::lock_guard lock(mutex_);
    if (stopped_) return;
    stopped_ = true;
  }
  // First: a poll under way ends at the completion it is in, whatever clients have queued.
  model_->StopPolling();
  model_->Shutdown(reason);
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (poller_.joinable()) poller_.join();
  // The writes clients were told are taken go out before the connections end.
  model_->Poll();
  if (endpoint_) endpoint_->Stop();
}

}  // namespace host
