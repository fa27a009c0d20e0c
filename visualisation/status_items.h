// The status labels of the main and station windows: each shows one OPC item of group
// "STATUS", bound to it through the item's Data reference.
#pragma once

#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "opcclient/kopl_server.h"
#include "visualisation/opc_kanal.h"

namespace lumaro {

enum class LabelColour { Normal, Good, Bad };  // window text, green (0, 0x80, 0), red (0xFF, 0, 0)

struct LabelState {
  std::string text;
  LabelColour colour = LabelColour::Normal;
};

// Binds a status item to its label.
class TStatusTarget final : public TItemTarget {
 public:
  explicit TStatusTarget(int index) : index(index) {}
  const int index;
};

// Runs fn for every item of every group of the connection.
void ForEachItem(kopl::TKoplServer& server, const std::function<void(const kopl::TKoplItem&)>& fn);

// Adds group "STATUS" with one item per ID, item k bound to label k. A label shows "unbekannt",
// or "n/v" when its item (or the group) cannot be added.
void AddStatusItems(kopl::TKoplServer& server, const std::vector<std::string>& ids, std::span<LabelState> labels,
                    std::vector<std::unique_ptr<TStatusTarget>>& targets);

}  // namespace lumaro
