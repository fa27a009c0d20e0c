#include "visualisation/status_items.h"

#include <exception>

#include "opcclient/kopl_group.h"
#include "opcclient/kopl_item.h"

namespace lumaro {

void ForEachItem(kopl::TKoplServer& server, const std::function<void(const kopl::TKoplItem&)>& fn) {
  for (int32_t g = 0; g < server.OPCGroups().Count(); ++g) {
    kopl::TKoplItems& items = server.OPCGroups()[g].OPCItems();
    for (int32_t i = 0; i < items.Count(); ++i) fn(items[i]);
  }
}

void AddStatusItems(kopl::TKoplServer& server, const std::vector<std::string>& ids, std::span<LabelState> labels,
                    std::vector<std::unique_ptr<TStatusTarget>>& targets) {
  for (LabelState& l : labels) l.text = "unbekannt";
  kopl::TKoplGroup* group = nullptr;
  try {
    group = &server.OPCGroups().Add("STATUS");
  } catch (const std::exception&) {
    for (LabelState& l : labels) l.text = "n/v";
    return;
  }
  for (size_t k = 0; k < ids.size() && k < labels.size(); ++k) {
    try {
      kopl::TKoplItem& item = group->OPCItems().Add(ids[k]);
      targets.push_back(std::make_unique<TStatusTarget>(int(k)));
      item.Data = static_cast<TItemTarget*>(targets.back().get());
    } catch (const std::exception&) {
      labels[k].text = "n/v";
    }
  }
}

}  // namespace lumaro
