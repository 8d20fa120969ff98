#include "variables.h"

#include <set>
#include <string_view>
#include <vector>

namespace {

// What looking up a name and starting on its value costs, in bytes copied.
constexpr size_t kLookupWork = 256;

// One text being expanded: the caller's, or the value of a name met in the
// text below it on the stack.
struct Frame {
  // The table entry whose value this is; null for the caller's text.
  const std::string* name = nullptr;
  std::string text;
  // Invariant: text[a] is a "%" that may open a reference, or a is npos.
  size_t a = std::string::npos;
  // While the value of a name found in this text is being expanded (in the
  // frame above), the stretch b - 1 .. c its reference occupies.
  size_t b = 0;
  size_t c = 0;
};

}  // namespace

std::optional<std::string> ExpandVariables(const std::string& text, const VariableTable& table) {
  // Names whose values are being expanded: the frames above the first.
  std::set<const std::string*> active;
  std::vector<Frame> stack;
  stack.push_back({nullptr, text, text.find('%')});
  size_t work = text.size();

  for (;;) {
    Frame& frame = stack.back();
    const size_t a = frame.a;
    const size_t b = a == std::string::npos ? a : frame.text.find_first_not_of('%', a);
    const size_t c = b == std::string::npos ? b : frame.text.find('%', b);
    if (c == std::string::npos) {
      // This text is final.
      if (stack.size() == 1) return std::move(frame.text);
      std::string value = std::move(frame.text);
      active.erase(frame.name);
      stack.pop_back();

      Frame& caller = stack.back();
      const size_t reference = caller.c - caller.b + 2;
      if (value.size() > kMaxExpandedSize ||
          caller.text.size() - reference + value.size() > kMaxExpandedSize) {
        return std::nullopt;
      }
      caller.text.replace(caller.b - 1, reference, value);
      work += caller.text.size();
      if (work > kMaxExpansionWork) return std::nullopt;
      // Resume after the inserted value: its text is final, and the
      // reference's closing "%" went with it, so the next reference needs a
      // "%" of its own.
      caller.a = caller.text.find('%', caller.b - 1 + value.size());
      continue;
    }

    work += kLookupWork + (c - a);
    if (work > kMaxExpansionWork) return std::nullopt;
    const auto entry = table.find(std::string_view(frame.text).substr(b, c - b));
    if (entry == table.end() || !active.insert(&entry->first).second) {
      frame.a = c;  // not replaced: this closing "%" may open the next reference
      continue;
    }
    frame.b = b;
    frame.c = c;
    work += entry->second.size();
    if (work > kMaxExpansionWork) return std::nullopt;
    // `frame` may move with the push; it is not used after it.
    stack.push_back({&entry->first, entry->second, entry->second.find('%')});
  }
}
