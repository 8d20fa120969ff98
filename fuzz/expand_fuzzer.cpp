// libFuzzer target: %name% expansion over arbitrary tables and texts.
//
// The input's first line is the text; every further line is name=value
// (split at the first "="; a line without one names an empty value). Besides
// running the expansion, small cases are checked against a plain recursive
// expansion with the same rules, stopped when it would do much work.
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "variables.h"

using namespace format;

namespace {

// The rules in their most direct form: recursion for nested values, the
// active-name guard for cycles, resuming after an inserted value. Gives no
// text when `budget` runs out.
std::optional<std::string> Reference(std::string text, const VariableTable& table,
                                     std::set<std::string>& active, long& budget) {
  size_t a = text.find('%');
  while (a != std::string::npos) {
    if (--budget < 0) return std::nullopt;
    const size_t b = text.find_first_not_of('%', a);
    if (b == std::string::npos) break;
    const size_t c = text.find('%', b);
    if (c == std::string::npos) break;
    const std::string name = text.substr(b, c - b);
    const auto entry = table.find(name);
    if (entry == table.end() || active.count(name) != 0) {
      a = c;
      continue;
    }
    active.insert(name);
    const std::optional<std::string> value = Reference(entry->second, table, active, budget);
    active.erase(name);
    if (!value) return std::nullopt;
    budget -= static_cast<long>(value->size() + text.size());
    text.replace(b - 1, c - b + 2, *value);
    a = text.find('%', b - 1 + value->size());
  }
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const size_t first_line = input.find('\n');
  const std::string text(input.substr(0, first_line));
  VariableTable table;
  for (size_t start = first_line; start != std::string_view::npos;) {
    const size_t end = input.find('\n', start + 1);
    const std::string_view line =
        input.substr(start + 1, end == std::string_view::npos ? end : end - start - 1);
    const size_t equals = line.find('=');
    table.emplace(line.substr(0, equals),
                  equals == std::string_view::npos ? "" : line.substr(equals + 1));
    start = end;
  }

  const VariableTable before = table;
  const std::optional<std::string> result = ExpandVariables(text, table);
  if (table != before) abort();
  if (result && result->size() > kMaxExpandedSize && *result != text) abort();

  std::set<std::string> active;
  long budget = 1 << 16;
  const std::optional<std::string> expected = Reference(text, table, active, budget);
  if (expected && expected != result) abort();
  return 0;
}
