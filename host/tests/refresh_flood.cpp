// A client of the host's raw protocol that makes one large group, sends refreshes of it from
// the device as fast as it can and then waits to be killed, its refreshes still pending. It
// stops sending once refreshes are refused, or after `refreshes`. Prints one line:
// "accepted A refused R other O".
// Usage: refresh_flood <target> <items> <refreshes>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "host/tests/raw_client.h"
#include "platform/com/hresult.h"
#include "platform/com/opc_da.h"
#include "platform/com/opc_types.h"

int main(int argc, char** argv) {
  if (argc != 4) return 2;
  namespace pb = qar::com;
  namespace com = platform::com;
  using Stub = host::testing::RawClient::Stub;
  host::testing::RawClient raw(argv[1]);
  const int items = std::atoi(argv[2]), refreshes = std::atoi(argv[3]);
  const uint32_t group = raw.AddGroup();
  if (raw.session.empty() || !group) return 3;
  const pb::ItemsRequest add = host::testing::RawClient::ActiveItems(group, items, "ZFM1.Turm.Temp", false);
  pb::ItemResultsReply added;
  if (!raw.Call(&Stub::AddItems, add, &added).ok() || added.hr() != com::S_OK) return 4;
  if (!raw.AdviseData(group)) return 5;
  int accepted = 0, refused = 0, other = 0;
  pb::RefreshRequest refresh;
  refresh.set_group(group);
  refresh.set_source(com::OPC_DS_DEVICE);
  for (int i = 0; i < refreshes && !refused; ++i) {
    refresh.set_transaction_id(1000 + i);
    pb::AsyncReply rep;
    if (!raw.Call(&Stub::Refresh2, refresh, &rep).ok()) {
      ++other;
    } else if (rep.hr() == com::S_OK) {
      ++accepted;
    } else if (rep.hr() == com::OPC_E_REFRESHINPROGRESS) {
      ++refused;
    } else {
      ++other;
    }
  }
  std::printf("accepted %d refused %d other %d\n", accepted, refused, other);
  std::fflush(stdout);
  for (;;) pause();
}
