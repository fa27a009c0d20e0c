#include "server/opc/tests/test_host.h"

#include <dlfcn.h>

#include <stdexcept>
#include <utility>

namespace opc::testing {

namespace com = platform::com;
namespace tk = platform::toolkit;

namespace {

// The host whose namespace is being built; the callbacks carry no context of their own.
TestHost* building = nullptr;

}  // namespace

Answer Decode(const tk::TDARequest& r) {
  Answer a{r.State, r.Result, {}, r.Quality, r.TimeStamp};
  com::RawVariant raw = tk::RequestValue(r);
  if (com::FAILED(com::VariantFromRaw(raw, &a.value))) a.value = com::Variant::Error(-1);
  return a;
}

tk::TDARequest Request(int32_t handle) {
  tk::TDARequest r{};
  com::RawVariant empty;
  com::RawVariantInit(&empty);
  tk::SetRequestValue(r, empty);
  r.ItemHandle = handle;
  return r;
}

std::optional<TestHost> TestHost::Load(const std::string& path, std::string* error) {
  void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!library) {
    if (error) *error = dlerror();
    return std::nullopt;
  }
  Exports e;
  std::string missing;
  if (!tk::ResolveServerExports(library, &e, &missing)) {
    if (error) *error = "missing export " + missing;
    dlclose(library);
    return std::nullopt;
  }
  std::optional<TestHost> host(std::in_place, e);
  host->library_ = library;
  return host;
}

TestHost::TestHost(TestHost&& other) noexcept
    : exports_(other.exports_),
      library_(std::exchange(other.library_, nullptr)),
      nodes_(std::move(other.nodes_)),
      tags_(std::move(other.tags_)),
      properties_(std::move(other.properties_)),
      fail_node_(std::move(other.fail_node_)),
      fail_tag_(std::move(other.fail_tag_)) {}

TestHost::~TestHost() { Unload(); }

void TestHost::Unload() {
  if (library_) dlclose(std::exchange(library_, nullptr));
}

void TestHost::BuildNameSpace() {
  nodes_.clear();
  tags_.clear();
  properties_.clear();
  building = this;
  exports_.build_name_space(&CreateNode, &CreateTag, &CreateProperty);
  building = nullptr;
}

int32_t TestHost::CreateNode(uint32_t parent, const char* name, uint32_t* node) {
  TestHost& h = *building;
  const std::string text = name ? name : "";
  uint32_t error = 0;
  if (parent > h.nodes_.size())
    error = tk::kErrorInvalidHandle;
  else if (text.empty())
    error = tk::kErrorInvalidParameter;
  else if (!h.fail_node_.first.empty() && text == h.fail_node_.first)
    error = h.fail_node_.second;
  if (error) {
    QarSetLastError(error);
    return 0;
  }
  h.nodes_.push_back({parent, text});
  *node = uint32_t(h.nodes_.size());
  return 1;
}

std::string TestHost::NodePath(uint32_t node) const {
  if (node == 0 || node > nodes_.size()) return {};
  const Node& n = nodes_[node - 1];
  std::string up = NodePath(n.parent);
  return up.empty() ? n.name : up + "." + n.name;
}

int32_t TestHost::CreateTag(uint32_t node, const char* name, com::VARTYPE type, uint32_t access, int32_t handle,
                            uint32_t* tag) {
  TestHost& h = *building;
  const std::string text = name ? name : "";
  if (node > h.nodes_.size() || text.empty() || text == h.fail_tag_) return 0;
  h.tags_.push_back({node, text, h.NodePath(node) + "." + text, type, access, handle});
  *tag = uint32_t(h.tags_.size());
  return 1;
}

int32_t TestHost::CreateProperty(uint32_t tag, uint32_t id, const char* description, com::VARTYPE type,
                                 uint32_t access, const com::RawVariant* value, int32_t handle, uint32_t* property) {
  TestHost& h = *building;
  if (tag == 0 || tag > h.tags_.size() || !value) return 0;
  Property p{tag, id, description ? description : "", type, access, {}, handle};
  if (com::FAILED(com::VariantFromRaw(*value, &p.value))) return 0;
  h.properties_.push_back(std::move(p));
  *property = uint32_t(h.properties_.size());
  return 1;
}

const Tag* TestHost::FindTag(const std::string& item_id) const {
  for (const Tag& t : tags_)
    if (t.item_id == item_id) return &t;
  return nullptr;
}

int32_t TestHost::Handle(const std::string& item_id) const {
  const Tag* t = FindTag(item_id);
  return t ? t->handle : -1;
}

std::map<uint32_t, Property> TestHost::PropertiesOf(const std::string& item_id) const {
  std::map<uint32_t, Property> out;
  for (const Property& p : properties_)
    if (tags_[p.tag - 1].item_id == item_id) out.emplace(p.id, p);
  return out;
}

std::vector<tk::TDARequest> TestHost::Requests(int32_t operation, std::vector<tk::TDARequest> records) {
  exports_.handle_requests(operation, int32_t(records.size()), records.data());
  return records;
}

std::vector<Answer> TestHost::Read(const std::vector<int32_t>& handles) {
  std::vector<tk::TDARequest> records;
  for (int32_t h : handles) records.push_back(Request(h));
  std::vector<Answer> answers;
  for (const auto& r : Requests(tk::kRequestRead, std::move(records))) answers.push_back(Decode(r));
  return answers;
}

std::vector<Answer> TestHost::Write(const std::vector<std::pair<int32_t, com::Variant>>& values) {
  std::vector<tk::TDARequest> records;
  for (const auto& [handle, value] : values) {
    tk::TDARequest r = Request(handle);
    com::RawVariant raw;
    com::RawVariantInit(&raw);
    if (com::FAILED(com::VariantToRaw(value, &raw))) throw std::invalid_argument("value has no raw form");
    tk::SetRequestValue(r, raw);
    records.push_back(r);
  }
  records = Requests(tk::kRequestWrite, std::move(records));
  std::vector<Answer> answers;
  for (auto& r : records) {
    answers.push_back(Decode(r));
    com::RawVariant raw = tk::RequestValue(r);
    com::RawVariantClear(&raw);  // the host owns what it sent
  }
  return answers;
}

}  // namespace opc::testing
