#include "platform/com/address_space.h"

#include <algorithm>
#include <bitset>
#include <limits>

#include "platform/com/call_cancel.h"

namespace platform::com {

namespace {

// One character as a bit of a 256-bit set, in the order of char, so that a list's range "a-z"
// is a run of bits; 0 to 255 whether char is signed or not.
size_t Bit(char c) { return static_cast<size_t>(static_cast<int>(c) - std::numeric_limits<char>::min()); }

// dst |= src << 1, over a state of several words.
void OrShifted(std::vector<uint64_t>& dst, const std::vector<uint64_t>& src) {
  uint64_t carry = 0;
  for (size_t w = 0; w < dst.size(); ++w) {
    dst[w] |= (src[w] << 1) | carry;
    carry = src[w] >> 63;
  }
}

}  // namespace

OpcPattern::Status OpcPattern::Prepare(const std::string& p, size_t longest_text, OpcPattern* out) {
  std::vector<std::bitset<256>> takes;  // per part: the characters it takes; none for a "*"
  std::vector<bool> star;
  size_t fixed = 0;
  for (size_t i = 0; i < p.size(); ++i) {
    if (p[i] == '*') {
      if (star.empty() || !star.back()) star.push_back(true), takes.emplace_back();
      continue;
    }
    if (++fixed > longest_text) return Status::kTooLong;
    std::bitset<256> set;
    switch (p[i]) {
      case '?': set.set(); break;
      case '#':
        for (char c = '0'; c <= '9'; ++c) set.set(Bit(c));
        break;
      case '[': {
        size_t j = i + 1;
        bool negated = false;
        if (j < p.size() && p[j] == '!') negated = true, ++j;
        size_t close = p.find(']', j + (j < p.size() && p[j] == ']' ? 1 : 0));
        if (close == std::string::npos) return Status::kMalformed;
        for (size_t k = j; k < close; ++k) {
          if (k + 2 < close && p[k + 1] == '-') {
            const size_t lo = Bit(std::min(p[k], p[k + 2])), hi = Bit(std::max(p[k], p[k + 2]));
            set |= (std::bitset<256>().set() >> (255 - (hi - lo))) << lo;
            k += 2;
          } else {
            set.set(Bit(p[k]));
          }
        }
        if (negated) set.flip();
        i = close;
        break;
      }
      default: set.set(Bit(p[i])); break;
    }
    star.push_back(false);
    takes.push_back(set);
  }
  OpcPattern& o = *out;
  o.parts_ = star.size();
  const size_t words = (o.parts_ + 1 + 63) / 64;  // bits 0 to parts_
  o.stars_.assign(words, 0);
  o.accepts_.assign(256, State(words, 0));
  for (size_t k = 0; k < o.parts_; ++k) {
    if (star[k]) {
      o.stars_[k / 64] |= uint64_t{1} << (k % 64);
      continue;
    }
    for (int b = 0; b < 256; ++b) {
      if (takes[k][Bit(static_cast<char>(b))]) o.accepts_[static_cast<size_t>(b)][k / 64] |= uint64_t{1} << (k % 64);
    }
  }
  return Status::kOk;
}

bool OpcPattern::Matches(const std::string& text) const {
  // The set of parts matched so far moves one step per character; a "*" keeps its bit and
  // lets the next part begin at once (no two "*" follow each other).
  State now(stars_.size(), 0), next(stars_.size(), 0), masked(stars_.size(), 0);
  auto close_stars = [&](State& s) {
    for (size_t w = 0; w < s.size(); ++w) masked[w] = s[w] & stars_[w];
    OrShifted(s, masked);
  };
  now[0] = 1;
  close_stars(now);
  for (char ch : text) {
    const State& takes = accepts_[static_cast<unsigned char>(ch)];
    uint64_t alive = 0;
    for (size_t w = 0; w < now.size(); ++w) {
      masked[w] = now[w] & takes[w];
      next[w] = now[w] & stars_[w];
    }
    OrShifted(next, masked);
    for (uint64_t w : next) alive |= w;
    if (!alive) return false;
    close_stars(next);
    now.swap(next);
  }
  return (now[parts_ / 64] >> (parts_ % 64)) & 1;
}

std::optional<bool> MatchOpcPattern(const std::string& text, const std::string& pattern) {
  OpcPattern prepared;
  if (OpcPattern::Prepare(pattern, SIZE_MAX, &prepared) != OpcPattern::Status::kOk) return std::nullopt;
  return prepared.Matches(text);
}

std::optional<AddressSpace::NodeId> AddressSpace::Child(NodeId node, const std::string& name) const {
  for (NodeId c : nodes_[node].children) {
    if (nodes_[c].name == name) return c;
  }
  return std::nullopt;
}

std::optional<AddressSpace::NodeId> AddressSpace::AddNode(NodeId parent, const std::string& name, Refusal* refusal) {
  Refusal why = Refusal::kNone;
  if (name.empty()) {
    why = Refusal::kEmptyName;
  } else if (parent >= nodes_.size()) {
    why = Refusal::kUnknownParent;
  } else if (Child(parent, name)) {
    why = Refusal::kDuplicate;
  }
  if (refusal) *refusal = why;
  if (why != Refusal::kNone) return std::nullopt;
  Node n;
  n.name = name;
  n.parent = parent;
  n.path = parent == kTop ? name : nodes_[parent].path + "." + name;
  longest_ = std::max(longest_, name.size());
  nodes_.push_back(std::move(n));
  auto id = static_cast<NodeId>(nodes_.size() - 1);
  nodes_[parent].children.push_back(id);
  return id;
}

const AddressItem* AddressSpace::AddTag(NodeId node, const std::string& name, VARTYPE canonical, DWORD access_rights,
                                        uint32_t handle, Refusal* refusal) {
  Refusal why = Refusal::kNone;
  std::string id;
  if (name.empty()) {
    why = Refusal::kEmptyName;
  } else if (node == kTop || node >= nodes_.size()) {
    why = Refusal::kUnknownParent;
  } else {
    id = nodes_[node].path + "." + name;
    if (by_id_.count(id)) why = Refusal::kDuplicate;
  }
  if (refusal) *refusal = why;
  if (why != Refusal::kNone) return nullptr;
  auto item = std::make_unique<AddressItem>(AddressItem{id, name, canonical, access_rights, handle});
  const AddressItem* p = item.get();
  items_.push_back(std::move(item));
  by_id_[id] = p;
  longest_ = std::max(longest_, id.size());
  nodes_[node].items.push_back(p);
  return p;
}

const AddressItem* AddressSpace::Find(const std::string& item_id) const {
  auto it = by_id_.find(item_id);
  return it == by_id_.end() ? nullptr : it->second;
}

HRESULT AddressBrowser::QueryOrganization(OPCNAMESPACETYPE* type) const {
  if (!type) return E_INVALIDARG;
  *type = OPC_NS_HIERARCHIAL;
  return S_OK;
}

HRESULT AddressBrowser::ChangeBrowsePosition(OPCBROWSEDIRECTION direction, const std::string& name) {
  switch (direction) {
    case OPC_BROWSE_UP:
      if (position_ == AddressSpace::kTop) return E_FAIL;
      position_ = space_.nodes_[position_].parent;
      return S_OK;
    case OPC_BROWSE_DOWN: {
      auto child = space_.Child(position_, name);
      if (!child) return E_INVALIDARG;
      position_ = *child;
      return S_OK;
    }
    case OPC_BROWSE_TO: {
      if (name.empty()) {
        position_ = AddressSpace::kTop;
        return S_OK;
      }
      for (AddressSpace::NodeId n = 1; n < space_.nodes_.size(); ++n) {
        if (space_.nodes_[n].path == name) {
          position_ = n;
          return S_OK;
        }
      }
      return E_INVALIDARG;
    }
  }
  return E_INVALIDARG;
}

HRESULT AddressBrowser::Browse(OPCBROWSETYPE type, const std::string& filter, VARTYPE data_type,
                               DWORD access_rights, std::vector<std::string>* names) const {
  if (!names) return E_INVALIDARG;
  names->clear();
  if (type != OPC_BRANCH && type != OPC_LEAF && type != OPC_FLAT) return E_INVALIDARG;
  OpcPattern pattern;
  if (!filter.empty()) {
    switch (OpcPattern::Prepare(filter, space_.longest_, &pattern)) {
      case OpcPattern::Status::kOk: break;
      case OpcPattern::Status::kMalformed: return OPC_E_INVALIDFILTER;
      case OpcPattern::Status::kTooLong: return E_INVALIDARG;
    }
  }
  // Asked before the first name and then now and then: the probe need not be cheap.
  size_t looked = 0;
  bool cancelled = false;
  auto gone = [&] {
    if (looked++ % 64 == 0 && CoTestCancel() != S_OK) cancelled = true;
    return cancelled;
  };
  auto passes = [&](const std::string& name) { return filter.empty() || pattern.Matches(name); };
  auto item_passes = [&](const AddressItem& item) {
    DWORD wanted = access_rights & (OPC_READABLE | OPC_WRITEABLE);
    if ((item.access_rights & wanted) != wanted) return false;
    if (data_type == VT_EMPTY || data_type == item.canonical) return true;
    Variant zero, probe;
    if (FAILED(VariantChangeType(&zero, Variant(), 0, item.canonical))) return false;
    return SUCCEEDED(VariantChangeType(&probe, zero, 0, data_type));
  };
  const AddressSpace::Node& here = space_.nodes_[position_];
  if (type == OPC_BRANCH) {
    for (AddressSpace::NodeId c : here.children) {
      if (gone()) break;
      if (passes(space_.nodes_[c].name)) names->push_back(space_.nodes_[c].name);
    }
  } else if (type == OPC_LEAF) {
    for (const AddressItem* item : here.items) {
      if (gone()) break;
      if (item_passes(*item) && passes(item->name)) names->push_back(item->name);
    }
  } else {
    // The items at and below the position: their IDs begin with its path and a ".".
    const std::string prefix = position_ == AddressSpace::kTop ? std::string() : here.path + ".";
    for (const auto& item : space_.items_) {
      if (gone()) break;
      if (item->item_id.compare(0, prefix.size(), prefix) != 0) continue;
      if (item_passes(*item) && passes(item->item_id)) names->push_back(item->item_id);
    }
  }
  if (cancelled) {
    names->clear();
    return RPC_E_CALL_CANCELED;
  }
  return S_OK;
}

HRESULT AddressBrowser::GetItemID(const std::string& name, std::string* item_id) const {
  if (!item_id) return E_INVALIDARG;
  const AddressSpace::Node& here = space_.nodes_[position_];
  for (const AddressItem* item : here.items) {
    if (item->name == name) {
      *item_id = item->item_id;
      return S_OK;
    }
  }
  if (auto child = space_.Child(position_, name)) {
    *item_id = space_.nodes_[*child].path;
    return S_OK;
  }
  if (space_.Find(name)) {
    *item_id = name;
    return S_OK;
  }
  return OPC_E_UNKNOWNITEMID;
}

}  // namespace platform::com
