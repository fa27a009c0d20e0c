// Sequential reader of INI-style text files: one key's value at a time, or the lines of one
// section as a block, and the cutting of a value into comma-separated fields with integer,
// floating and text parsers that apply a range and a default. The reader keeps one current
// file and one current section header; a caller sets both and then reads.
#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <utility>

namespace support {

class ErrorLog;

// Server: lines are cut at 255 characters. Configurator: whole lines, values cut at 255.
// (The visualisation client uses only the field routines, which are the same in all builds.)
enum class IniBuild { Server, Configurator };

class IniReader {
 public:
  explicit IniReader(IniBuild build = IniBuild::Server, ErrorLog* log = nullptr);
  ~IniReader();
  IniReader(const IniReader&) = delete;
  IniReader& operator=(const IniReader&) = delete;

  void Set_INI_File(const std::string& name);
  void Set_INI_Section(const std::string& name);  // header "[" + NAME + "]", cut to 80
  const std::string& File() const { return file_; }
  const std::string& Header() const { return header_; }

  std::string Read_Parameter(const std::string& key);
  int32_t Read_IntParameter(const std::string& key, int32_t min, int32_t max, int32_t def);

  void OPEN_INI_BLOCK();
  // Next content line of the open block; "" at the end, which closes the block.
  void INI_ZEILE(std::string& line);
  void CLOSE_INI_BLOCK();
  bool BlockOpen() const { return block_ != nullptr; }

 private:
  // An open file, read as far as its lines were asked for.
  struct Source {
    int fd = -1;
    std::string text;  // read but not yet taken from pos on
    size_t pos = 0;
    bool end = false;  // nothing more to read
    Source() = default;
    Source(const Source&) = delete;
    Source& operator=(const Source&) = delete;
    ~Source();
  };

  std::shared_ptr<ErrorLog> Log() const;
  // The current file; nullptr when it cannot be read (also when it is no regular file).
  std::unique_ptr<Source> OpenFile();
  bool ReadLine(Source& f, std::string& line);
  bool FindSection(Source& f);
  std::string FindKey(Source& f, const std::string& key);
  void Trace(int32_t bit, const std::string& text) const;

  IniBuild build_;
  ErrorLog* log_;
  std::string file_ = "NONAME.INI";
  std::string header_ = "[DEFAULT]";
  std::unique_ptr<Source> block_;  // the file of an open block read
  int32_t line_counter_ = 0;
  // What was logged once already: paths that are no regular file, lines that hold a NUL.
  std::set<std::string> refused_;
  std::set<std::pair<std::string, int32_t>> nul_lines_;
};

// Field routines: each cuts the next field off line (in place) at the first ","; the field
// loses its leading and trailing blanks. maxLength is the capacity of the caller's text.
int32_t Get_IntParameter(std::string& line, int maxLength, int32_t min, int32_t max, int32_t def);
double Get_RealParameter(std::string& line, int maxLength, double min, double max, double def);
void Get_StrParameter(std::string& line, int maxLength, std::string& field);
void Trim_Blanks(std::string& text, int maxLength = 255);  // character 32 only; tabs stay

// The program's reader (the unit state is global in every program).
IniReader& Ini();
void StartIniReader(IniBuild build);
// Frees the reader's state (the server library's unload).
void StopIniReader();
void Set_INI_File(const std::string& name);
void Set_INI_Section(const std::string& name);
std::string Read_Parameter(const std::string& key);
int32_t Read_IntParameter(const std::string& key, int32_t min, int32_t max, int32_t def);
void OPEN_INI_BLOCK();
void INI_ZEILE(std::string& line);
void CLOSE_INI_BLOCK();

}  // namespace support
