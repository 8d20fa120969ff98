#include "variables.h"

#include <set>
#include <string_view>
#include <vector>

namespace format {
namespace {

// What looking up a name and starting on its value costs, in bytes copied.
constexpr size_t kLookupWork = 256;

// One text being expanded: the caller's, or the value of a name met in the
// text below it on the stack.
struct Frame {
  // The table entry whose value this is; null for the caller's text.
  const std::string* name = nullptr;
  std::string text;
  // Invariant: text[scan_from] is a "%" that may open a reference, or
  // scan_from is npos.
  size_t scan_from = std::string::npos;
  // While the value of a name found in this text is being expanded (in the
  // frame above), where that name starts and the "%" that closes it: the
  // reference occupies name_start - 1 .. name_end.
  size_t name_start = 0;
  size_t name_end = 0;
};

// Puts the final text of the top frame of `stack` in place of its
// reference in the frame below, which is to resume after it, and counts
// the work in `work`. False when a text would grow beyond kMaxExpandedSize
// or the work beyond kMaxExpansionWork.
bool InsertFinalValue(std::vector<Frame>& stack, std::set<const std::string*>& active,
                      size_t& work) {
  std::string value = std::move(stack.back().text);
  active.erase(stack.back().name);
  stack.pop_back();
  Frame& caller = stack.back();
  const size_t reference = caller.name_end - caller.name_start + 2;
  if (value.size() > kMaxExpandedSize ||
      caller.text.size() - reference + value.size() > kMaxExpandedSize) {
    return false;
  }
  caller.text.replace(caller.name_start - 1, reference, value);
  work += caller.text.size();
  // Resume after the inserted value: its text is final, and the reference's
  // closing "%" went with it, so the next reference needs a "%" of its own.
  caller.scan_from = caller.text.find('%', caller.name_start - 1 + value.size());
  return work <= kMaxExpansionWork;
}

}  // namespace

std::optional<std::string> ExpandVariables(const std::string& text, const VariableTable& table) {
  // Names whose values are being expanded: the frames above the first.
  std::set<const std::string*> active;
  std::vector<Frame> stack;
  stack.push_back({nullptr, text, text.find('%')});
  size_t work = text.size();

  for (;;) {
    Frame& frame = stack.back();
    const size_t scan_from = frame.scan_from;
    const size_t name_start =
        scan_from == std::string::npos ? scan_from : frame.text.find_first_not_of('%', scan_from);
    const size_t name_end =
        name_start == std::string::npos ? name_start : frame.text.find('%', name_start);
    if (name_end == std::string::npos) {
      // This text is final.
      if (stack.size() == 1) return std::move(frame.text);
      if (!InsertFinalValue(stack, active, work)) return std::nullopt;
      continue;
    }

    work += kLookupWork + (name_end - scan_from);
    if (work > kMaxExpansionWork) return std::nullopt;
    const auto entry =
        table.find(std::string_view(frame.text).substr(name_start, name_end - name_start));
    if (entry == table.end() || !active.insert(&entry->first).second) {
      frame.scan_from = name_end;  // not replaced: this closing "%" may open the next reference
      continue;
    }
    frame.name_start = name_start;
    frame.name_end = name_end;
    work += entry->second.size();
    if (work > kMaxExpansionWork) return std::nullopt;
    // `frame` may move with the push; it is not used after it.
    stack.push_back({&entry->first, entry->second, entry->second.find('%')});
  }
}

}  // namespace format
