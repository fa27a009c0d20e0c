#include "server/driver/station_state.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <stdexcept>

#include "platform/files.h"
#include "server/driver/fml.h"
#include "server/driver/options.h"
#include "server/driver/utilities.h"

namespace driver {

namespace {

constexpr size_t kOffBE = 20, kOffAE = 100, kOffBA = 260, kOffAA = 340, kOffWords = 500;
constexpr int32_t kFirstWordRegister = 5;
// Fills a gap before a record written past the end; no station has this address.
constexpr int32_t kNoStation = -1;

void PutI32(TStateBytes& b, size_t off, int32_t v) {
  auto u = uint32_t(v);
  for (int i = 0; i < 4; ++i) b[off + size_t(i)] = uint8_t(u >> (8 * i));
}

int32_t GetI32(const TStateBytes& b, size_t off) {
  uint32_t u = 0;
  for (int i = 0; i < 4; ++i) u |= uint32_t(b[off + size_t(i)]) << (8 * i);
  return int32_t(u);
}

struct Counts {
  int32_t be, ae, ba, aa;
};

Counts CountsOf(const TFuMo& s) {
  return {std::min(kStateBinaries, s.RegCount(kGroupBE)), std::min(kStateAnalogues, s.RegCount(kGroupAE)),
          std::min(kStateBinaries, s.RegCount(kGroupBA)), std::min(kStateAnalogues, s.RegCount(kGroupAA))};
}

bool ReadWhole(int fd, uint8_t* buf, size_t size, off_t at) {
  size_t done = 0;
  while (done < size) {
    ssize_t n = ::pread(fd, buf + done, size - done, at + off_t(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += size_t(n);
  }
  return true;
}

bool WriteWhole(int fd, const uint8_t* buf, size_t size, off_t at) {
  size_t done = 0;
  while (done < size) {
    ssize_t n = ::pwrite(fd, buf + done, size - done, at + off_t(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += size_t(n);
  }
  return true;
}

off_t FileSize(int fd) {
  struct stat st {};
  return ::fstat(fd, &st) == 0 ? st.st_size : 0;
}

off_t RecordOffset(int32_t station) { return off_t(station - 1) * off_t(kStateRecordSize); }

// The last path refused.
std::string refused_path;

// Opens the file at path, which must be a regular file of its own: a link is not followed (its
// target could be any file of the machine) and anything else is refused with a log line. The
// device, FIFO or folder is never waited for. -1 when not opened.
int OpenStateFile(const std::string& path, int flags) {
  std::string refused;
  const int fd = platform::OpenRegularFile(path, flags | O_NOFOLLOW, &refused);
  if (!refused.empty() && path != refused_path) {
    const int error = errno;
    refused_path = path;  // a save at every exchange would log it again and again
    WriteLog("FML: StationStates: " + path + " is no regular file, not used");
    errno = error;
  }
  if (fd >= 0) refused_path.clear();
  return fd;
}

void Load(TFML& fml) {
  const std::string found = platform::FindFileNoCase(StationStateFile());
  if (found.empty()) {
    int fd = OpenStateFile(StationStateFile(), O_RDWR | O_CREAT | O_EXCL);
    if (fd >= 0) ::close(fd);
    return;
  }
  bool writable = true;
  int fd = OpenStateFile(found, O_RDWR);
  if (fd < 0 && (errno == EACCES || errno == EROFS)) {
    writable = false;  // a read-only file still restores
    fd = OpenStateFile(found, O_RDONLY);
  }
  if (fd < 0) return;
  TStateBytes bytes{};
  for (int32_t i = 1; i < fml.Count(); ++i) {
    TFuMo& s = fml.Items(i);
    s.bStateDirty = false;
    if (!ReadWhole(fd, bytes.data(), bytes.size(), RecordOffset(i))) continue;
    TStationState rec = DecodeState(bytes);
    s.TransferState(rec, false);
  }
  // Records of stations that are no longer configured disappear.
  const off_t keep = RecordOffset(fml.Count());
  if (writable && FileSize(fd) > keep) (void)::ftruncate(fd, keep);
  ::close(fd);
}

void Save(TFML& fml) {
  int fd = -1;
  bool tried = false;
  off_t size = 0;
  for (int32_t i = 1; i < fml.Count(); ++i) {
    TFuMo& s = fml.Items(i);
    if (!s.bStateDirty) continue;
    s.bStateDirty = false;
    if (!tried) {
      tried = true;
      const std::string found = platform::FindFileNoCase(StationStateFile());
      if (!found.empty()) fd = OpenStateFile(found, O_RDWR);
      if (fd >= 0) size = FileSize(fd);
    }
    if (fd < 0) continue;
    const off_t at = RecordOffset(i);
    if (size < at) {
      TStationState none;
      none.Adr = kNoStation;
      const TStateBytes gap = EncodeState(none);
      for (off_t g = size / off_t(kStateRecordSize) * off_t(kStateRecordSize); g < at; g += off_t(kStateRecordSize))
        if (!WriteWhole(fd, gap.data(), gap.size(), g)) break;
    }
    TStationState rec;
    s.TransferState(rec, true);
    const TStateBytes bytes = EncodeState(rec);
    // One whole record in place, so a crash never leaves a record of two ages.
    if (WriteWhole(fd, bytes.data(), bytes.size(), at)) size = std::max(size, at + off_t(kStateRecordSize));
  }
  if (fd >= 0) {
    (void)::fdatasync(fd);
    ::close(fd);
  }
}

}  // namespace

std::string StationStateFile() { return ServerDir + "Ostrel.STS"; }

TStateBytes EncodeState(const TStationState& rec) {
  TStateBytes b{};
  PutI32(b, 0, rec.Adr);
  PutI32(b, 4, rec.nBE);
  PutI32(b, 8, rec.nAE);
  PutI32(b, 12, rec.nBA);
  PutI32(b, 16, rec.nAA);
  std::copy(rec.BE.begin(), rec.BE.end(), b.begin() + kOffBE);
  std::copy(rec.BA.begin(), rec.BA.end(), b.begin() + kOffBA);
  for (size_t j = 0; j < rec.AE.size(); ++j) PutI32(b, kOffAE + 4 * j, rec.AE[j]);
  for (size_t j = 0; j < rec.AA.size(); ++j) PutI32(b, kOffAA + 4 * j, rec.AA[j]);
  for (size_t k = 0; k < rec.Words.size(); ++k) PutI32(b, kOffWords + 4 * k, rec.Words[k]);
  return b;
}

TStationState DecodeState(const TStateBytes& b) {
  TStationState rec;
  rec.Adr = GetI32(b, 0);
  rec.nBE = GetI32(b, 4);
  rec.nAE = GetI32(b, 8);
  rec.nBA = GetI32(b, 12);
  rec.nAA = GetI32(b, 16);
  std::copy(b.begin() + kOffBE, b.begin() + kOffBE + kStateBinaries, rec.BE.begin());
  std::copy(b.begin() + kOffBA, b.begin() + kOffBA + kStateBinaries, rec.BA.begin());
  for (size_t j = 0; j < rec.AE.size(); ++j) rec.AE[j] = GetI32(b, kOffAE + 4 * j);
  for (size_t j = 0; j < rec.AA.size(); ++j) rec.AA[j] = GetI32(b, kOffAA + 4 * j);
  for (size_t k = 0; k < rec.Words.size(); ++k) rec.Words[k] = GetI32(b, kOffWords + 4 * k);
  return rec;
}

void TFuMo::TransferState(TStationState& rec, bool save) {
  const Counts c = CountsOf(*this);
  if (save) {
    rec = TStationState{};
    rec.Adr = Adr1;
    rec.nBE = c.be, rec.nAE = c.ae, rec.nBA = c.ba, rec.nAA = c.aa;
    for (int32_t j = 0; j < c.be; ++j) rec.BE[size_t(j)] = uint8_t(GetWert(kGroupBE, j).Raw);
    for (int32_t j = 0; j < c.ae; ++j) rec.AE[size_t(j)] = GetWert(kGroupAE, j).Raw;
    for (int32_t j = 0; j < c.ba; ++j) rec.BA[size_t(j)] = uint8_t(GetWert(kGroupBA, j).Raw);
    for (int32_t j = 0; j < c.aa; ++j) rec.AA[size_t(j)] = GetWert(kGroupAA, j).Raw;
    for (int32_t k = 0; k < kStateWords; ++k) rec.Words[size_t(k)] = GetWert(kGroupSystem, kFirstWordRegister + k).Raw;
    return;
  }
  // A record of another station or of another channel layout is ignored as a whole.
  if (rec.Adr != Adr1 || rec.nBE != c.be || rec.nAE != c.ae || rec.nBA != c.ba || rec.nAA != c.aa) return;
  auto restore = [this](int32_t group, int32_t index, int32_t raw) {
    try {
      SetWertInt(group, index, raw, kQualityGood);
    } catch (const std::range_error&) {
      // A scaled value beyond 32 bits: the register stays "not connected".
    }
  };
  for (int32_t j = 0; j < c.be; ++j) restore(kGroupBE, j, rec.BE[size_t(j)]);
  for (int32_t j = 0; j < c.ae; ++j) restore(kGroupAE, j, rec.AE[size_t(j)]);
  for (int32_t j = 0; j < c.ba; ++j) restore(kGroupBA, j, rec.BA[size_t(j)]);
  for (int32_t j = 0; j < c.aa; ++j) restore(kGroupAA, j, rec.AA[size_t(j)]);
  for (int32_t k = 0; k < kStateWords; ++k) restore(kGroupSystem, kFirstWordRegister + k, rec.Words[size_t(k)]);
}

void StationStates(bool save) {
  if (!Options.PERMANENTDATEN || !FML) return;
  if (save)
    Save(*FML);
  else
    Load(*FML);
}

}  // namespace driver
