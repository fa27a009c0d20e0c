// A server's address space: branches (nodes) and items (tags) as the server library creates
// them, item IDs made of the branch names and the item name joined by ".", and the browsing
// of it that IOPCBrowseServerAddressSpace offers, with one browse position per client.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/com/opc_types.h"

namespace platform::com {

// The OPC browse filter: "?" any one character, "*" any run of characters, "#" one digit,
// "[abc]" / "[a-z]" one character of the list, "[!abc]" one character not in it; anything
// else stands for itself. Case matters. Prepared once, then matched against any number of
// names, each in time linear in its length; a run of "*" is one "*".
class OpcPattern {
 public:
  enum class Status { kOk, kMalformed, kTooLong };
  // kMalformed for an unclosed "["; kTooLong when the pattern needs more characters (each of
  // "?", "#", a list or a plain character takes one) than the longest text it is meant for.
  static Status Prepare(const std::string& pattern, size_t longest_text, OpcPattern* out);
  bool Matches(const std::string& text) const;

 private:
  // Bit p of a state: the first p parts of the pattern match what was read so far.
  using State = std::vector<uint64_t>;
  size_t parts_ = 0;
  State stars_;                  // bit k: part k is a "*"
  std::vector<State> accepts_;   // per byte value: bit k when part k takes that byte
};

// One text against one pattern; nullopt for a malformed pattern.
std::optional<bool> MatchOpcPattern(const std::string& text, const std::string& pattern);

struct AddressItem {
  std::string item_id;
  std::string name;  // the last part of the ID
  VARTYPE canonical = VT_EMPTY;
  DWORD access_rights = OPC_READABLE;
  uint32_t handle = 0;  // the server library's own handle for the item
};

class AddressSpace {
 public:
  using NodeId = uint32_t;
  static constexpr NodeId kTop = 0;  // above every branch; the browse root

  enum class Refusal { kNone, kEmptyName, kUnknownParent, kDuplicate };

  // A branch below parent (kTop for a root branch). nullopt when refused (why: *refusal).
  std::optional<NodeId> AddNode(NodeId parent, const std::string& name, Refusal* refusal = nullptr);
  // An item in a branch (not at the top). nullptr when refused.
  const AddressItem* AddTag(NodeId node, const std::string& name, VARTYPE canonical, DWORD access_rights,
                            uint32_t handle, Refusal* refusal = nullptr);

  const AddressItem* Find(const std::string& item_id) const;
  // Every item in the order it was added.
  const std::vector<std::unique_ptr<AddressItem>>& Items() const { return items_; }

 private:
  friend class AddressBrowser;
  struct Node {
    std::string name;
    std::string path;  // item-ID prefix of this branch, without the trailing "."
    NodeId parent = kTop;
    std::vector<NodeId> children;                 // in the order added
    std::vector<const AddressItem*> items;        // in the order added
  };
  std::optional<NodeId> Child(NodeId node, const std::string& name) const;

  std::vector<Node> nodes_{Node{}};  // index 0 is the top
  std::vector<std::unique_ptr<AddressItem>> items_;
  std::map<std::string, const AddressItem*> by_id_;
  size_t longest_ = 0;  // the longest item ID or branch name
};

// IOPCBrowseServerAddressSpace over an address space, for one client. The address space
// must outlive it and not change while it browses.
class AddressBrowser {
 public:
  explicit AddressBrowser(const AddressSpace& space) : space_(space) {}

  HRESULT QueryOrganization(OPCNAMESPACETYPE* type) const;
  // UP at the top: E_FAIL; DOWN to a name that is no branch here, TO a path that is no
  // branch: E_INVALIDARG; TO "" goes to the top.
  HRESULT ChangeBrowsePosition(OPCBROWSEDIRECTION direction, const std::string& name);
  // Branch names or item names at the position, or the full IDs of the items at and below it
  // (OPC_FLAT), in the order they were added. The type filter keeps items whose value converts
  // to that type, the access filter items that have all of its rights; branches are filtered by
  // name only.
  // OPC_E_INVALIDFILTER for a malformed pattern, E_INVALIDARG for an unknown browse type or a
  // filter that needs more characters than any name has; RPC_E_CALL_CANCELED when the
  // caller's client went away meanwhile (CoTestCancel), with no names.
  HRESULT Browse(OPCBROWSETYPE type, const std::string& filter, VARTYPE data_type, DWORD access_rights,
                 std::vector<std::string>* names) const;
  // The full ID of a name at the position (item or branch); a full item ID is returned as
  // it is. OPC_E_UNKNOWNITEMID for anything else.
  HRESULT GetItemID(const std::string& name, std::string* item_id) const;

 private:
  const AddressSpace& space_;
  AddressSpace::NodeId position_ = AddressSpace::kTop;
};

}  // namespace platform::com
