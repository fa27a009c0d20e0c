// The namespace as text, for operators who want to see whether their network polls: one line
// per item (item ID, canonical type, access rights, value, quality, time stamp), each followed
// by one line per property the library gave the item. Fields are separated by one tab; text
// is UTF-8.
#pragma once

#include <ostream>
#include <string>

#include "host/name_space.h"
#include "platform/com/da_server.h"

namespace host {

// Reads every item in one batch (in namespace order) and writes the lines.
void WriteDump(const NameSpace& ns, platform::com::DaBackend& backend, std::ostream& out);

// "yyyy-mm-dd hh:nn:ss.zzz" in UTC.
std::string FileTimeText(platform::FILETIME ft);
// Numbers with "." as decimal point, texts as they are; "" for a value without a text form.
// Tabs and line breaks become blanks, so a value never breaks the line layout.
std::string ValueText(const platform::com::Variant& value);

}  // namespace host
