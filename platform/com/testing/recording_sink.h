// A client sink for tests: records every callback it gets, with the thread it ran on.
#pragma once

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/com/data_object.h"
#include "platform/com/opc_common.h"
#include "platform/com/connection_point.h"
#include "platform/com/opc_da.h"

namespace platform::com::testing {

struct Recorded {
  std::string kind;  // "data", "read", "write", "cancel", "shutdown", "stream"
  DWORD transaction = 0;
  OPCHANDLE group = 0;
  std::vector<OPCHANDLE> handles;
  std::vector<Variant> values;
  std::vector<WORD> qualities;
  std::vector<HRESULT> errors;
  std::string text;  // shutdown reason, stream format
  std::vector<uint8_t> block;
  std::thread::id thread;
};

class RecordingSink final : public IOPCDataCallback,
                            public IOPCShutdown,
                            public IAdviseSink,
                            public std::enable_shared_from_this<RecordingSink> {
 public:
  HRESULT QueryInterface(const IID& riid, std::shared_ptr<IUnknown>* ppv) override {
    return AnswerQuery(this, riid, ppv, {IID_IOPCDataCallback, IID_IOPCShutdown, IID_IAdviseSink});
  }
  HRESULT OnDataChange(DWORD t, OPCHANDLE g, HRESULT, HRESULT, DWORD n, const OPCHANDLE* h, const Variant* v,
                       const WORD* q, const FILETIME*, const HRESULT* e) override {
    return Data("data", t, g, n, h, v, q, e);
  }
  HRESULT OnReadComplete(DWORD t, OPCHANDLE g, HRESULT, HRESULT, DWORD n, const OPCHANDLE* h, const Variant* v,
                         const WORD* q, const FILETIME*, const HRESULT* e) override {
    return Data("read", t, g, n, h, v, q, e);
  }
  HRESULT OnWriteComplete(DWORD t, OPCHANDLE g, HRESULT, DWORD n, const OPCHANDLE* h, const HRESULT* e) override {
    Recorded r = Base("write", t, g);
    r.handles.assign(h, h + n);
    r.errors.assign(e, e + n);
    Keep(std::move(r));
    return S_OK;
  }
  HRESULT OnCancelComplete(DWORD t, OPCHANDLE g) override {
    Keep(Base("cancel", t, g));
    return S_OK;
  }
  HRESULT ShutdownRequest(const std::string& reason) override {
    Recorded r = Base("shutdown", 0, 0);
    r.text = reason;
    Keep(std::move(r));
    return S_OK;
  }
  void OnDataChange(const FORMATETC* f, const STGMEDIUM* m) override {
    Recorded r = Base("stream", 0, 0);
    r.text = GetClipboardFormatName(f->cfFormat).value_or("?");
    r.block = m->hGlobal;
    Keep(std::move(r));
  }
  void OnViewChange(DWORD, LONG) override {}
  void OnRename() override {}
  void OnSave() override {}
  void OnClose() override {}

  size_t Count(const std::string& kind) const {
    size_t n = 0;
    for (const Recorded& r : events) n += r.kind == kind;
    return n;
  }

  std::vector<Recorded> events;
  std::function<void(const Recorded&)> after;  // when set, called with each event as it is recorded

 private:
  void Keep(Recorded r) {
    events.push_back(std::move(r));
    if (after) after(events.back());
  }
  static Recorded Base(const char* kind, DWORD t, OPCHANDLE g) {
    Recorded r;
    r.kind = kind;
    r.transaction = t;
    r.group = g;
    r.thread = std::this_thread::get_id();
    return r;
  }
  HRESULT Data(const char* kind, DWORD t, OPCHANDLE g, DWORD n, const OPCHANDLE* h, const Variant* v, const WORD* q,
               const HRESULT* e) {
    Recorded r = Base(kind, t, g);
    r.handles.assign(h, h + n);
    r.values.assign(v, v + n);
    r.qualities.assign(q, q + n);
    r.errors.assign(e, e + n);
    Keep(std::move(r));
    return S_OK;
  }
};

}  // namespace platform::com::testing
