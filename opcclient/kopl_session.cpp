// Session files: the server component with its groups and items in the text form of a
// component stream, read back by a small parser of its own.

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>

#include "opcclient/kopl_group.h"
#include "opcclient/kopl_server.h"
#include "platform/replace_file.h"

namespace kopl {

namespace {

constexpr size_t kPieceLength = 64;
constexpr size_t kMarkerWindow = 299;

std::string Indent(int level) { return std::string(size_t(level) * 2, ' '); }

std::string BoolText(bool b) { return b ? "True" : "False"; }

// Decimal, never with an exponent ("0.00001", not "1e-05"), in the fewest digits that read back
// as the same float.
std::string FloatText(float f) {
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, f, std::chars_format::fixed);
  return std::string(buf, r.ptr);
}

// Quoted runs; characters below 32 and the quote itself as "#" and their code.
std::string QuotedPiece(std::string_view piece) {
  std::string out;
  bool open = false;
  for (char c : piece) {
    unsigned char u = static_cast<unsigned char>(c);
    if (u < 32 || c == '\'') {
      if (open) out += '\'';
      open = false;
      out += '#' + std::to_string(u);
    } else {
      if (!open) out += '\'';
      open = true;
      out += c;
    }
  }
  if (open) out += '\'';
  return out;
}

class SessionWriter {
 public:
  explicit SessionWriter(std::string& out) : out_(out) {}

  void Line(int level, const std::string& text) { out_ += Indent(level) + text + "\r\n"; }
  void Bool(int level, const std::string& name, bool b) { Line(level, name + " = " + BoolText(b)); }
  void Int(int level, const std::string& name, int32_t v) { Line(level, name + " = " + std::to_string(v)); }
  void Float(int level, const std::string& name, float v) {
    if (v != 0) Line(level, name + " = " + FloatText(v));
  }
  void Enum(int level, const std::string& name, OPCADatatype t) {
    Line(level, name + " = " + std::string(DatatypeName(t)));
  }
  void String(int level, const std::string& name, const std::string& s) {
    if (s.empty()) return;
    if (s.size() <= kPieceLength) return Line(level, name + " = " + QuotedPiece(s));
    // A long text starts on the next line, one level deeper, in pieces joined by " +".
    Line(level, name + " = ");
    for (size_t at = 0; at < s.size(); at += kPieceLength) {
      std::string piece = QuotedPiece(std::string_view(s).substr(at, kPieceLength));
      Line(level + 1, at + kPieceLength < s.size() ? piece + " +" : piece);
    }
  }

  // "<>" when empty; else "<", the elements, and ">" right after the last "end".
  template <class Each>
  void Collection(int level, const std::string& name, int32_t count, Each each) {
    if (count == 0) return Line(level, name + " = <>");
    Line(level, name + " = <");
    for (int32_t i = 0; i < count; ++i) {
      Line(level + 1, "item");
      each(i, level + 2);
      Line(level + 1, i + 1 == count ? "end>" : "end");
    }
  }

 private:
  std::string& out_;
};

void WriteItem(SessionWriter& w, TKoplItem& item, int level) {
  w.String(level, "ItemID", item.ItemID());
  w.String(level, "AccessPath", item.AccessPath());
  w.Bool(level, "IsActive", item.IsActive());
  w.Enum(level, "RequestDatatype", item.RequestDatatype());
}

void WriteGroup(SessionWriter& w, TKoplGroup& group, int level) {
  w.String(level, "Name", group.Name());
  w.Bool(level, "IsActive", group.IsActive());
  w.Int(level, "UpdateRate", group.UpdateRate());
  w.Float(level, "DeadBand", group.DeadBand());
  w.Int(level, "LocaleId", group.LocaleId());
  w.Int(level, "TimeBias", group.TimeBias());
  if (!group.DefaultItem().IsActive) w.Bool(level, "DefaultItem.IsActive", false);
  w.String(level, "DefaultItem.AccessPath", group.DefaultItem().AccessPath);
  w.Enum(level, "DefaultItem.RequestDataType", group.DefaultItem().RequestDataType);
  TKoplItems& items = group.OPCItems();
  w.Collection(level, "OPCItems", items.Count(), [&](int32_t i, int l) { WriteItem(w, items[i], l); });
}

// ---- reading ----

enum class Tok { End, Ident, Int, Float, String, Symbol };

struct Token {
  Tok kind = Tok::End;
  std::string text;  // identifier, number text, string value or the symbol
  int line = 1;
};

class Lexer {
 public:
  explicit Lexer(const std::string& text) : s_(text) { Next(); }

  const Token& Peek() const { return tok_; }
  Token Take() {
    Token t = tok_;
    Next();
    return t;
  }

 private:
  void Next() {
    SkipBlanks();
    tok_ = Token{};
    tok_.line = line_;
    if (pos_ >= s_.size()) return;
    char c = s_[pos_];
    if (IsIdentStart(c)) return Ident();
    if (IsDigit(c) || ((c == '-' || c == '+') && pos_ + 1 < s_.size() && IsDigit(s_[pos_ + 1]))) return Number();
    if (c == '\'' || c == '#') return String();
    tok_.kind = Tok::Symbol;
    tok_.text = std::string(1, c);
    ++pos_;
  }

  void SkipBlanks() {
    while (pos_ < s_.size()) {
      char c = s_[pos_];
      if (c == '\n') {
        ++line_;
      } else if (c != ' ' && c != '\t' && c != '\r') {
        break;
      }
      ++pos_;
    }
  }

  static bool IsDigit(char c) { return c >= '0' && c <= '9'; }
  static bool IsIdentStart(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_'; }
  static bool IsIdentChar(char c) { return IsIdentStart(c) || IsDigit(c); }

  // Dotted names ("OPCGroupDefault.UpdateRate") are one token.
  void Ident() {
    size_t start = pos_;
    while (pos_ < s_.size() && (IsIdentChar(s_[pos_]) || (s_[pos_] == '.' && pos_ + 1 < s_.size() &&
                                                          IsIdentStart(s_[pos_ + 1])))) {
      ++pos_;
    }
    tok_.kind = Tok::Ident;
    tok_.text = s_.substr(start, pos_ - start);
  }

  void Number() {
    size_t start = pos_++;
    bool real = false;
    while (pos_ < s_.size()) {
      char c = s_[pos_];
      if (IsDigit(c)) {
        ++pos_;
      } else if (c == '.' || c == 'e' || c == 'E') {
        real = true;
        ++pos_;
        if (c != '.' && pos_ < s_.size() && (s_[pos_] == '-' || s_[pos_] == '+')) ++pos_;
      } else {
        break;
      }
    }
    tok_.kind = real ? Tok::Float : Tok::Int;
    tok_.text = s_.substr(start, pos_ - start);
  }

  // Quoted runs and "#" codes next to each other make one text; "''" inside quotes is a quote.
  void String() {
    tok_.kind = Tok::String;
    while (pos_ < s_.size() && (s_[pos_] == '\'' || s_[pos_] == '#')) {
      if (s_[pos_] == '#') {
        size_t start = ++pos_;
        while (pos_ < s_.size() && IsDigit(s_[pos_])) ++pos_;
        int code = 0;
        auto r = std::from_chars(s_.data() + start, s_.data() + pos_, code);
        if (pos_ == start || r.ec != std::errc() || code > 255) throw EReadError(line_, "invalid character code");
        tok_.text += char(code);
        continue;
      }
      ++pos_;
      for (;;) {
        if (pos_ >= s_.size() || s_[pos_] == '\r' || s_[pos_] == '\n') {
          throw EReadError(line_, "unterminated string");
        }
        if (s_[pos_] == '\'') {
          if (pos_ + 1 < s_.size() && s_[pos_ + 1] == '\'') {
            tok_.text += '\'';
            pos_ += 2;
            continue;
          }
          ++pos_;
          break;
        }
        tok_.text += s_[pos_++];
      }
    }
  }

  const std::string& s_;
  size_t pos_ = 0;
  int line_ = 1;
  Token tok_;
};

bool SameText(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
           return lower(x) == lower(y);
         });
}

}  // namespace

// Reads the text form into a server component that is in its loading state: every property
// goes through its setter, so nothing is sent to a server until Loaded.
class SessionReader {
 public:
  SessionReader(const std::string& text, TKoplServer& server) : lex_(text), server_(server) {}

  void Read() {
    Token head = lex_.Take();
    if (head.kind != Tok::Ident || !(SameText(head.text, "object") || SameText(head.text, "inherited"))) {
      throw EReadError(head.line, "\"object\" expected");
    }
    std::string name, class_name;
    if (IsSymbol(":")) {
      lex_.Take();
      class_name = TakeIdent("class name");
    } else {
      class_name = TakeIdent("component name");
      if (IsSymbol(":")) {
        lex_.Take();
        name = std::move(class_name);
        class_name = TakeIdent("class name");
      }
    }
    if (!SameText(class_name, "TKoplServer")) throw EReadError(head.line, "class " + class_name + " is not TKoplServer");
    // A component without a name of its own takes the file's, so that saving it names it again.
    if (server_.Name().empty()) server_.SetName(name);
    while (!IsEnd()) ServerProperty();
    lex_.Take();
  }

 private:
  bool IsSymbol(const char* s) const { return lex_.Peek().kind == Tok::Symbol && lex_.Peek().text == s; }
  bool IsEnd() const { return lex_.Peek().kind == Tok::Ident && SameText(lex_.Peek().text, "end"); }
  bool IsEndOfCollection() const { return IsSymbol(">"); }

  std::string TakeIdent(const char* what) {
    Token t = lex_.Take();
    if (t.kind != Tok::Ident) throw EReadError(t.line, std::string(what) + " expected");
    return t.text;
  }
  void Expect(const char* symbol) {
    Token t = lex_.Take();
    if (t.kind != Tok::Symbol || t.text != symbol) throw EReadError(t.line, std::string("\"") + symbol + "\" expected");
  }

  // ---- values ----
  [[noreturn]] void Invalid(const Token& t, const std::string& name) {
    throw EReadError(t.line, "invalid value for property " + name);
  }
  bool Bool(const std::string& name) {
    Token t = lex_.Take();
    if (t.kind == Tok::Ident && SameText(t.text, "True")) return true;
    if (t.kind == Tok::Ident && SameText(t.text, "False")) return false;
    Invalid(t, name);
  }
  int32_t Int(const std::string& name) {
    Token t = lex_.Take();
    int64_t v = 0;
    const char* b = t.text.data() + (t.text.starts_with('+') ? 1 : 0);
    auto r = std::from_chars(b, t.text.data() + t.text.size(), v);
    if (t.kind != Tok::Int || r.ec != std::errc() || v < std::numeric_limits<int32_t>::min() ||
        v > std::numeric_limits<int32_t>::max()) {
      Invalid(t, name);
    }
    return int32_t(v);
  }
  float Float(const std::string& name) {
    Token t = lex_.Take();
    float v = 0;
    const char* b = t.text.data() + (t.text.starts_with('+') ? 1 : 0);
    auto r = std::from_chars(b, t.text.data() + t.text.size(), v);
    if ((t.kind != Tok::Int && t.kind != Tok::Float) || r.ec != std::errc() || r.ptr != t.text.data() + t.text.size()) {
      Invalid(t, name);
    }
    return v;
  }
  std::string String(const std::string& name) {
    Token t = lex_.Take();
    if (t.kind != Tok::String) Invalid(t, name);
    std::string s = t.text;
    while (IsSymbol("+")) {
      lex_.Take();
      Token more = lex_.Take();
      if (more.kind != Tok::String) Invalid(more, name);
      s += more.text;
    }
    return s;
  }
  OPCADatatype Enum(const std::string& name) {
    Token t = lex_.Take();
    std::optional<OPCADatatype> type = t.kind == Tok::Ident ? DatatypeFromName(t.text) : std::nullopt;
    if (!type) Invalid(t, name);
    return *type;
  }

  // A collection: "<>" leaves the existing elements; otherwise they are replaced by the
  // "item" ... "end" entries, each made by make and filled by one property at a time.
  template <class Clear, class Make, class Prop>
  void Collection(Clear clear, Make make, Prop prop) {
    Expect("<");
    bool cleared = false;
    while (!IsEndOfCollection()) {
      Token t = lex_.Take();
      if (t.kind != Tok::Ident || !SameText(t.text, "item")) throw EReadError(t.line, "\"item\" expected");
      if (!cleared) clear();
      cleared = true;
      auto& element = make();
      while (!IsEnd()) {
        if (lex_.Peek().kind == Tok::End) throw EReadError(lex_.Peek().line, "\"end\" expected");
        prop(element);
      }
      lex_.Take();
    }
    Expect(">");
  }

  // "Name =" and the name; EReadError at the end of the text.
  Token PropertyName() {
    Token t = lex_.Take();
    if (t.kind != Tok::Ident) throw EReadError(t.line, t.kind == Tok::End ? "\"end\" expected" : "property name expected");
    Expect("=");
    return t;
  }
  [[noreturn]] void Unknown(const Token& t) { throw EReadError(t.line, "unknown property " + t.text); }

  void ServerProperty() {
    Token t = PropertyName();
    const std::string& n = t.text;
    TdDefaultGroup& d = server_.OPCGroupDefault();
    if (SameText(n, "BatchMode")) return server_.SetBatchMode(Bool(n));
    if (SameText(n, "ComputerName")) return server_.SetComputerName(String(n));
    if (SameText(n, "ServerName")) return server_.SetServerName(String(n));
    if (SameText(n, "OPCGroups")) {
      TKoplGroups& groups = server_.OPCGroups();
      return Collection([&] { groups.Clear(); }, [&]() -> TKoplGroup& { return groups.AddItem(); },
                        [&](TKoplGroup& g) { GroupProperty(g); });
    }
    if (SameText(n, "OPCGroupDefault.IsActive")) return void(d.IsActive = Bool(n));
    if (SameText(n, "OPCGroupDefault.UpdateRate")) return void(d.UpdateRate = Int(n));
    if (SameText(n, "OPCGroupDefault.DeadBand")) return void(d.DeadBand = Float(n));
    if (SameText(n, "OPCGroupDefault.LocaleId")) return void(d.LocaleId = Int(n));
    if (SameText(n, "OPCGroupDefault.TimeBias")) return void(d.TimeBias = Int(n));
    if (SameText(n, "Active")) return server_.SetActive(Bool(n));
    if (SameText(n, "ClientName")) return server_.SetClientName(String(n));
    if (SameText(n, "Version")) return server_.SetVersion(String(n));
    if (SameText(n, "ConnectDelay")) return server_.SetConnectDelay(Int(n));
    if (SameText(n, "Left")) return void(server_.Left = Int(n));
    if (SameText(n, "Top")) return void(server_.Top = Int(n));
    Unknown(t);
  }

  void GroupProperty(TKoplGroup& g) {
    Token t = PropertyName();
    const std::string& n = t.text;
    if (SameText(n, "Name")) return g.SetName(String(n));
    if (SameText(n, "IsActive")) return g.SetIsActive(Bool(n));
    if (SameText(n, "UpdateRate")) return g.SetUpdateRate(Int(n));
    if (SameText(n, "DeadBand")) return g.SetDeadBand(Float(n));
    if (SameText(n, "LocaleId")) return g.SetLocaleId(Int(n));
    if (SameText(n, "TimeBias")) return g.SetTimeBias(Int(n));
    if (SameText(n, "DefaultItem.IsActive")) return void(g.DefaultItem().IsActive = Bool(n));
    if (SameText(n, "DefaultItem.AccessPath")) return void(g.DefaultItem().AccessPath = String(n));
    if (SameText(n, "DefaultItem.RequestDataType")) return void(g.DefaultItem().RequestDataType = Enum(n));
    if (SameText(n, "OPCItems")) {
      TKoplItems& items = g.OPCItems();
      return Collection([&] { items.Clear(); }, [&]() -> TKoplItem& { return items.AddItem(); },
                        [&](TKoplItem& i) { ItemProperty(i); });
    }
    Unknown(t);
  }

  void ItemProperty(TKoplItem& i) {
    Token t = PropertyName();
    const std::string& n = t.text;
    if (SameText(n, "ItemID")) return i.SetItemID(String(n));
    if (SameText(n, "AccessPath")) return i.SetAccessPath(String(n));
    if (SameText(n, "IsActive")) return i.SetIsActive(Bool(n));
    if (SameText(n, "RequestDatatype")) return i.SetRequestDatatype(Enum(n));
    Unknown(t);
  }

  Lexer lex_;
  TKoplServer& server_;
};

void TKoplServer::SaveToStream(std::string& stream) {
  SessionWriter w(stream);
  w.Line(0, "object " + name_ + ": TKoplServer");
  w.Bool(1, "BatchMode", batch_mode_);
  w.String(1, "ComputerName", computer_name_);
  w.String(1, "ServerName", server_name_);
  w.Collection(1, "OPCGroups", groups_->Count(), [&](int32_t i, int l) { WriteGroup(w, groups_->GetItem(i), l); });
  w.Bool(1, "OPCGroupDefault.IsActive", group_default_.IsActive);
  w.Int(1, "OPCGroupDefault.UpdateRate", group_default_.UpdateRate);
  w.Float(1, "OPCGroupDefault.DeadBand", group_default_.DeadBand);
  w.Int(1, "OPCGroupDefault.LocaleId", group_default_.LocaleId);
  w.Int(1, "OPCGroupDefault.TimeBias", group_default_.TimeBias);
  w.Bool(1, "Active", active_);
  w.String(1, "ClientName", client_name_);
  w.String(1, "Version", version_);
  w.Int(1, "ConnectDelay", connect_delay_);
  if (Left != 0) w.Int(1, "Left", Left);
  if (Top != 0) w.Int(1, "Top", Top);
  w.Line(0, "end");
}

void TKoplServer::SaveToFile(const std::string& file_name) {
  std::string text;
  SaveToStream(text);
  // A failed save keeps the session that was there.
  if (int err = platform::ReplaceFile(file_name, text)) {
    throw EFileStreamError("Cannot create file \"" + file_name + "\". " + std::strerror(err));
  }
}

void TKoplServer::CheckSessionFile(const std::string& stream) {
  std::string head = stream.substr(0, kMarkerWindow);
  std::transform(head.begin(), head.end(), head.begin(), [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; });
  if (head.find("tkoplserver") == std::string::npos) throw Exception("wrong fileformat");
}

void TKoplServer::LoadFromStream(const std::string& stream) {
  loading_ = true;
  try {
    SessionReader(stream, *this).Read();
  } catch (...) {
    loading_ = false;
    active_ = server_ != nullptr;  // a flag read before the error connected nothing
    throw;
  }
  Loaded();
}

void TKoplServer::LoadFromFile(const std::string& file_name) {
  std::ifstream in(file_name, std::ios::binary);
  if (!in) throw EFileStreamError("Cannot open file \"" + file_name + "\". " + std::strerror(errno));
  std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  CheckSessionFile(text);
  LoadFromStream(text);
}

}  // namespace kopl
