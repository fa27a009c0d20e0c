// A host for tests: calls the five exports in their order, records the namespace that the
// callbacks build (item IDs are node names and the tag name joined by "."), and sends request
// batches. The exports come from a library it loads or from the test program itself.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/com/variant.h"
#include "platform/toolkit/server_exports.h"
#include "platform/toolkit/toolkit_host.h"

namespace opc::testing {

using Exports = platform::toolkit::ServerExports;

struct Node {
  uint32_t parent;
  std::string name;
};
struct Tag {
  uint32_t node;
  std::string name;
  std::string item_id;
  platform::com::VARTYPE type;
  uint32_t access;
  int32_t handle;
};
struct Property {
  uint32_t tag;
  uint32_t id;
  std::string description;
  platform::com::VARTYPE type;
  uint32_t access;
  platform::com::Variant value;
  int32_t handle;
};

// One answered request record, its value decoded.
struct Answer {
  int32_t state;
  int32_t result;
  platform::com::Variant value;
  uint16_t quality;
  platform::FILETIME time_stamp;
};

class TestHost {
 public:
  // The exports of the library at path (dlopen); unloaded by the destructor or Unload.
  static std::optional<TestHost> Load(const std::string& path, std::string* error = nullptr);
  // The exports linked into the test program.
  explicit TestHost(const Exports& exports) : exports_(exports) {}
  TestHost(TestHost&& other) noexcept;
  TestHost(const TestHost&) = delete;
  TestHost& operator=(const TestHost&) = delete;
  ~TestHost();

  platform::toolkit::TServerInitData* Initialize() { return exports_.initialize(); }
  // Records what the library creates; earlier records are dropped.
  void BuildNameSpace();
  bool Start() { return exports_.start() != 0; }
  void Stop() { exports_.stop(); }
  // dlclose; the library's unload runs now.
  void Unload();

  // One batch; the records as the library left them.
  std::vector<platform::toolkit::TDARequest> Requests(int32_t operation, std::vector<platform::toolkit::TDARequest> records);
  std::vector<Answer> Read(const std::vector<int32_t>& handles);
  // Writes one batch of values; every result as the library left it.
  std::vector<Answer> Write(const std::vector<std::pair<int32_t, platform::com::Variant>>& values);
  Answer Read(int32_t handle) { return Read(std::vector<int32_t>{handle}).front(); }
  Answer Write(int32_t handle, const platform::com::Variant& value) { return Write({{handle, value}}).front(); }

  const std::vector<Node>& Nodes() const { return nodes_; }
  const std::vector<Tag>& Tags() const { return tags_; }
  const std::vector<Property>& Properties() const { return properties_; }
  // The tag of an item ID, or nullptr.
  const Tag* FindTag(const std::string& item_id) const;
  // The item handle of an item ID; -1 when there is no such item.
  int32_t Handle(const std::string& item_id) const;
  // Properties of a tag, by property ID.
  std::map<uint32_t, Property> PropertiesOf(const std::string& item_id) const;

  // Failures to inject: createNode fails for this name with this last error; createTag fails
  // for this tag name.
  void FailNode(const std::string& name, uint32_t last_error) { fail_node_ = {name, last_error}; }
  void FailTag(const std::string& name) { fail_tag_ = name; }

  const Exports& exports() const { return exports_; }

 private:
  static int32_t CreateNode(uint32_t parent, const char* name, uint32_t* node);
  static int32_t CreateTag(uint32_t node, const char* name, platform::com::VARTYPE type, uint32_t access,
                           int32_t handle, uint32_t* tag);
  static int32_t CreateProperty(uint32_t tag, uint32_t id, const char* description, platform::com::VARTYPE type,
                                uint32_t access, const platform::com::RawVariant* value, int32_t handle,
                                uint32_t* property);
  std::string NodePath(uint32_t node) const;

  Exports exports_;
  void* library_ = nullptr;
  std::vector<Node> nodes_;  // node n is nodes_[n - 1]
  std::vector<Tag> tags_;    // tag n is tags_[n - 1]
  std::vector<Property> properties_;
  std::pair<std::string, uint32_t> fail_node_;
  std::string fail_tag_;
};

// The fields of a record. Records sit 50 bytes apart, so their fields are unaligned: copy
// them out rather than bind references to them.
Answer Decode(const platform::toolkit::TDARequest& r);

// The request record for a handle with an empty value.
platform::toolkit::TDARequest Request(int32_t handle);

}  // namespace opc::testing
