#include "platform/com/address_space.h"

namespace platform::com {

namespace {

struct Token {
  enum Kind { kLiteral, kAny, kStar, kDigit, kSet } kind = kLiteral;
  char c = 0;
  bool negated = false;
  std::vector<std::pair<char, char>> ranges;
  bool Matches(char ch) const {
    switch (kind) {
      case kLiteral: return ch == c;
      case kAny: return true;
      case kDigit: return ch >= '0' && ch <= '9';
      case kSet: {
        bool in = false;
        for (auto [lo, hi] : ranges) in = in || (ch >= lo && ch <= hi);
        return in != negated;
      }
      default: return false;
    }
  }
};

std::optional<std::vector<Token>> Tokenize(const std::string& p) {
  std::vector<Token> out;
  for (size_t i = 0; i < p.size(); ++i) {
    Token t;
    switch (p[i]) {
      case '?': t.kind = Token::kAny; break;
      case '*': t.kind = Token::kStar; break;
      case '#': t.kind = Token::kDigit; break;
      case '[': {
        t.kind = Token::kSet;
        size_t j = i + 1;
        if (j < p.size() && p[j] == '!') t.negated = true, ++j;
        size_t close = p.find(']', j + (j < p.size() && p[j] == ']' ? 1 : 0));
        if (close == std::string::npos) return std::nullopt;
        for (size_t k = j; k < close; ++k) {
          if (k + 2 < close && p[k + 1] == '-') {
            t.ranges.emplace_back(std::min(p[k], p[k + 2]), std::max(p[k], p[k + 2]));
            k += 2;
          } else {
            t.ranges.emplace_back(p[k], p[k]);
          }
        }
        i = close;
        break;
      }
      default: t.c = p[i]; break;
    }
    out.push_back(std::move(t));
  }
  return out;
}

}  // namespace

std::optional<bool> MatchOpcPattern(const std::string& text, const std::string& pattern) {
  auto tokens = Tokenize(pattern);
  if (!tokens) return std::nullopt;
  // can[j]: the tokens so far match text[0, j). One row per token, so no pattern takes long.
  std::vector<char> can(text.size() + 1, 0), next(text.size() + 1, 0);
  can[0] = 1;
  for (const Token& t : *tokens) {
    std::fill(next.begin(), next.end(), 0);
    for (size_t j = 0; j <= text.size(); ++j) {
      if (t.kind == Token::kStar) {
        next[j] = can[j] || (j > 0 && next[j - 1]);
      } else if (j > 0) {
        next[j] = can[j - 1] && t.Matches(text[j - 1]);
      }
    }
    can.swap(next);
  }
  return can[text.size()] != 0;
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
  if (!filter.empty() && !MatchOpcPattern("", filter)) return OPC_E_INVALIDFILTER;
  auto passes = [&](const std::string& name) { return filter.empty() || *MatchOpcPattern(name, filter); };
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
      if (passes(space_.nodes_[c].name)) names->push_back(space_.nodes_[c].name);
    }
  } else if (type == OPC_LEAF) {
    for (const AddressItem* item : here.items) {
      if (item_passes(*item) && passes(item->name)) names->push_back(item->name);
    }
  } else {
    // The items at and below the position: their IDs begin with its path and a ".".
    const std::string prefix = position_ == AddressSpace::kTop ? std::string() : here.path + ".";
    for (const auto& item : space_.items_) {
      if (item->item_id.compare(0, prefix.size(), prefix) != 0) continue;
      if (item_passes(*item) && passes(item->item_id)) names->push_back(item->item_id);
    }
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
