#include "variables.h"

#include <set>
#include <string_view>

namespace {

// Names whose values are being expanded further up the call chain.
using ActiveNames = std::set<const std::string*>;

std::string Expand(std::string text, const VariableTable& table, ActiveNames& active) {
  // Invariant: text[a] is a "%" that may open a reference.
  size_t a = text.find('%');
  while (a != std::string::npos) {
    const size_t b = text.find_first_not_of('%', a);
    if (b == std::string::npos) break;
    const size_t c = text.find('%', b);
    if (c == std::string::npos) break;

    const auto entry = table.find(std::string_view(text).substr(b, c - b));
    if (entry == table.end() || !active.insert(&entry->first).second) {
      a = c;  // not replaced: this closing "%" may open the next reference
      continue;
    }
    const std::string value = Expand(entry->second, table, active);
    active.erase(&entry->first);
    text.replace(b - 1, c - b + 2, value);
    // Resume after the inserted value: its text is final, and the reference's
    // closing "%" went with it, so the next reference needs a "%" of its own.
    a = text.find('%', b - 1 + value.size());
  }
  return text;
}

}  // namespace

std::string ExpandVariables(const std::string& text, const VariableTable& table) {
  ActiveNames active;
  return Expand(text, table, active);
}
