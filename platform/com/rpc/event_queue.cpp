#include "platform/com/rpc/event_queue.h"

#include <string>

namespace platform::com::rpc {

namespace pb = qar::com;

namespace {

constexpr size_t kBlock = 16;  // what the allocator adds to every block it hands out
constexpr size_t kShortText = 15;  // texts up to this length live inside the string object

size_t Object(size_t size) { return size + kBlock; }

// A string field: its string object, and its characters when they do not fit inside it.
size_t Text(const std::string& s) {
  if (s.empty()) return 0;
  return Object(sizeof(std::string)) + (s.capacity() > kShortText ? Object(s.capacity() + 1) : 0);
}

template <class T>
size_t Array(const google::protobuf::RepeatedField<T>& f) {
  return f.Capacity() ? Object(f.Capacity() * sizeof(T) + sizeof(void*)) : 0;
}

template <class T>
size_t Pointers(const google::protobuf::RepeatedPtrField<T>& f) {
  return f.Capacity() ? Object(f.Capacity() * sizeof(void*) + sizeof(void*)) : 0;
}

size_t TextsOf(const google::protobuf::RepeatedPtrField<std::string>& f) {
  size_t n = Pointers(f);
  for (const std::string& s : f) n += Object(sizeof(std::string)) + Text(s);
  return n;
}

size_t ValueMemory(const pb::Value& v) {
  size_t n = Object(sizeof(pb::Value));
  if (v.has_text()) n += Text(v.text());
  if (v.has_elements()) {
    n += Object(sizeof(pb::ValueArray)) + Pointers(v.elements().elements());
    for (const pb::Value& e : v.elements().elements()) n += ValueMemory(e);
  }
  return n;
}

size_t DataChangeMemory(const pb::DataChange& d) {
  size_t n = Object(sizeof(pb::DataChange)) + Array(d.client_handles()) + Pointers(d.values()) +
             Array(d.qualities()) + Array(d.time_stamps()) + Array(d.errors());
  for (const pb::Value& v : d.values()) n += ValueMemory(v);
  return n;
}

}  // namespace

size_t MemoryOf(const pb::Event& e) {
  size_t n = sizeof(pb::Event);
  switch (e.kind_case()) {
    case pb::Event::kConnected: {
      const pb::Connected& c = e.connected();
      n += Object(sizeof(pb::Connected)) + Text(c.session()) + TextsOf(c.interfaces()) +
           TextsOf(c.connection_points());
      break;
    }
    case pb::Event::kDataChange: n += DataChangeMemory(e.data_change()); break;
    case pb::Event::kReadComplete: n += DataChangeMemory(e.read_complete()); break;
    case pb::Event::kWriteComplete: {
      const pb::WriteComplete& w = e.write_complete();
      n += Object(sizeof(pb::WriteComplete)) + Array(w.client_handles()) + Array(w.errors());
      break;
    }
    case pb::Event::kCancelComplete: n += Object(sizeof(pb::CancelComplete)); break;
    case pb::Event::kShutdown: n += Object(sizeof(pb::Shutdown)) + Text(e.shutdown().reason()); break;
    case pb::Event::kStreamData:
      n += Object(sizeof(pb::StreamData)) + Text(e.stream_data().format()) + Text(e.stream_data().block());
      break;
    case pb::Event::KIND_NOT_SET: break;
  }
  return n;
}

size_t DataChangeFloor(size_t items) {
  // The arrays: client handles, value pointers, qualities, time stamps, errors.
  auto array = [items](size_t element) { return items ? Object(items * element + sizeof(void*)) : 0; };
  return sizeof(pb::Event) + Object(sizeof(pb::DataChange)) + array(sizeof(uint32_t)) + array(sizeof(void*)) +
         array(sizeof(uint32_t)) + array(sizeof(uint64_t)) + array(sizeof(int32_t)) +
         items * Object(sizeof(pb::Value));
}

EventQueue::Fit EventQueue::Push(pb::Event& event, size_t bytes) {
  if (Fit fit = Check(bytes); fit != Fit::kFits) return fit;
  if (!budget_.Take(bytes)) return Fit::kOverTotal;  // another queue took it meanwhile
  events_.push_back({std::move(event), bytes});
  bytes_ += bytes;
  return Fit::kFits;
}

void EventQueue::Pop() {
  bytes_ -= events_.front().bytes;
  budget_.Give(events_.front().bytes);
  events_.pop_front();
}

void EventQueue::Drop(bool keep_front) {
  const size_t keep = keep_front && !events_.empty() ? 1 : 0;
  while (events_.size() > keep) {
    bytes_ -= events_.back().bytes;
    budget_.Give(events_.back().bytes);
    events_.pop_back();
  }
  // A deque keeps its blocks after pop_back; a fresh one gives them back.
  if (keep == 0) std::deque<Queued>().swap(events_);
}

}  // namespace platform::com::rpc
