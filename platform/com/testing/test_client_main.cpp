// A client that dies: connects to the class named by argv[1], adds a group with one item and
// a data callback, says "ready" and kills itself, so the server sees a client vanish
// mid-session without any clean-up of its own.
#include <signal.h>

#include <cstdio>

#include "platform/com/connection_point.h"
#include "platform/com/opc_da.h"
#include "platform/com/rpc/client.h"

using namespace platform::com;

namespace {

class Callback final : public IOPCDataCallback, public std::enable_shared_from_this<Callback> {
 public:
  HRESULT QueryInterface(const IID& riid, std::shared_ptr<IUnknown>* ppv) override {
    return AnswerQuery(this, riid, ppv, {IID_IOPCDataCallback});
  }
  HRESULT OnDataChange(DWORD, OPCHANDLE, HRESULT, HRESULT, DWORD, const OPCHANDLE*, const Variant*, const WORD*,
                       const FILETIME*, const HRESULT*) override {
    return S_OK;
  }
  HRESULT OnReadComplete(DWORD, OPCHANDLE, HRESULT, HRESULT, DWORD, const OPCHANDLE*, const Variant*, const WORD*,
                         const FILETIME*, const HRESULT*) override {
    return S_OK;
  }
  HRESULT OnWriteComplete(DWORD, OPCHANDLE, HRESULT, DWORD, const OPCHANDLE*, const HRESULT*) override { return S_OK; }
  HRESULT OnCancelComplete(DWORD, OPCHANDLE) override { return S_OK; }
};

int Fail(const char* what, HRESULT hr) {
  std::fprintf(stderr, "com_test_client: %s failed: %s\n", what, HResultHex(hr).c_str());
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  Apartment apartment;
  rpc::ActivationOptions options;
  options.apartment = &apartment;
  std::shared_ptr<IUnknown> unk;
  std::string error;
  HRESULT hr = rpc::CreateServerByName(argv[1], options, &unk, &error);
  if (FAILED(hr)) {
    std::fprintf(stderr, "com_test_client: %s\n", error.c_str());
    return 1;
  }
  auto server = Query<IOPCServer>(unk);
  OPCHANDLE handle = 0;
  DWORD rate = 0;
  std::shared_ptr<IUnknown> group;
  if (FAILED(hr = server->AddGroup("dying", TRUE, 100, 1, nullptr, nullptr, 0, &handle, &rate, IID_IOPCItemMgt, &group))) {
    return Fail("AddGroup", hr);
  }
  OPCITEMDEF def;
  def.szItemID = "Zentrale.Status";
  std::vector<OPCITEMRESULT> results;
  std::vector<HRESULT> errors;
  if (FAILED(hr = Query<IOPCItemMgt>(group)->AddItems(1, &def, &results, &errors))) return Fail("AddItems", hr);
  std::shared_ptr<IConnectionPoint> point;
  if (FAILED(hr = Query<IConnectionPointContainer>(group)->FindConnectionPoint(IID_IOPCDataCallback, &point))) {
    return Fail("FindConnectionPoint", hr);
  }
  DWORD cookie = 0;
  if (FAILED(hr = point->Advise(std::static_pointer_cast<IOPCDataCallback>(std::make_shared<Callback>()), &cookie))) {
    return Fail("Advise", hr);
  }
  std::printf("ready\n");
  std::fflush(stdout);
  raise(SIGKILL);
  return 0;
}
