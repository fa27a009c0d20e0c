// A data change that waits for the client's loop. While it waits, later ordinary data changes
// for the same sink merge into it item by item: an item keeps its place, and its latest value,
// quality, time stamp and error win. What the transport holds for a client whose loop is held
// up is so bounded by the client's items, not by how long the loop is held.
//
// Only ordinary changes merge (transaction id 0, and for the OPC DA 1.0 stream a succeeding
// status): a refresh or read result answers a call of the client's, and a write completion
// (its own stream format) is no data change; those go as they were sent.
#pragma once

#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/com/opc_types.h"

namespace platform::com::rpc {

class PendingChange {
 public:
  // An ordinary change of a data callback (IOPCDataCallback::OnDataChange), its arrays of one
  // length each.
  static PendingChange FromCallback(OPCHANDLE group, std::vector<OPCHANDLE> handles, std::vector<Variant> values,
                                    std::vector<WORD> qualities, std::vector<FILETIME> stamps,
                                    std::vector<HRESULT> errors);
  // A data stream block of the named format ("OPCSTMFORMATDATA" or "OPCSTMFORMATDATATIME");
  // nullopt for any other format and for a block that does not merge or does not hold together.
  static std::optional<PendingChange> FromStream(const std::string& format, const std::vector<uint8_t>& block);

  // True when later is of the same kind, group and format, so that it can merge.
  bool Takes(const PendingChange& later) const;
  void Merge(const PendingChange& later);

  bool IsStream() const { return stream_; }
  OPCHANDLE Group() const { return group_; }
  const std::vector<OPCHANDLE>& Handles() const { return handles_; }
  const std::vector<Variant>& Values() const { return values_; }
  const std::vector<WORD>& Qualities() const { return qualities_; }
  const std::vector<FILETIME>& Stamps() const { return stamps_; }
  const std::vector<HRESULT>& Errors() const { return errors_; }
  // S_OK when every quality is good, else S_FALSE; the same for the errors.
  HRESULT MasterQuality() const;
  HRESULT MasterError() const;
  // A stream change as one block of its format.
  const std::string& Format() const { return format_; }
  std::vector<uint8_t> StreamBlock() const;

 private:
  void Put(OPCHANDLE handle, const Variant& value, WORD quality, FILETIME stamp, HRESULT error);

  bool stream_ = false;
  std::string format_;  // stream only
  OPCHANDLE group_ = 0;
  std::vector<OPCHANDLE> handles_;
  std::vector<Variant> values_;
  std::vector<WORD> qualities_;
  std::vector<FILETIME> stamps_;
  std::vector<HRESULT> errors_;
  // handle -> its place; made by the first merge (most changes never merge).
  std::unordered_map<OPCHANDLE, size_t> index_;
};

}  // namespace platform::com::rpc
