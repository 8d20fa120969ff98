// The rules a plan must meet before it is packed: what the reader would not
// carry out as written is refused here, before anything is written.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "pack_plan.h"

namespace tool {

// Refuses a plan that the reader would not carry out as written: keys, names,
// texts or a stub name that are not valid UTF-8 (the reader would read them
// in the system's code page), keys it ignores or can never refer to, keys or
// file names given twice, names it cannot extract (RefusedFilePath), a file
// name that passes through another file ("a" and "a/b"), directories written
// in two cases ("Bin/a" and "bin/b": one directory on Windows, two on Linux),
// and launch values that expand beyond the reader's limits. The trees'
// contents are checked once listed (CheckTreeEntries). Throws ToolError for
// the first problem found.
void CheckPlan(const PackPlan& plan);

// Refuses what the plan's files and its trees' entries would make of the
// work directory together: a file name that equals a tree path, or equals it
// but for case; a file name that passes through a tree's file ("x/y" where a
// tree has the file "x"), or a tree path that passes through a file ("a/b"
// where the plan has the file "a"); and two trees that both hold a file of
// one path, a file where the other has a directory, or paths equal but for
// case (as Windows compares names, beyond ASCII too); a name that may be the
// short 8.3 name Windows gives a longer one beside it (or, at the top, one
// of the reader's temporary files); and a tree path of more than
// format::kMostPathNames parts. A file name inside a tree's directory is
// fine: the file is extracted into it. `entries` are those of all the plan's
// trees, as ListTree gives them, one tree's after another's. Throws
// ToolError naming both.
void CheckTreeEntries(const PackPlan& plan, const std::vector<TreeEntry>& entries);

// Refuses a file name or tree path that the reader on the stub's system
// (Windows when `windows_stub`, else POSIX) could not make: a name longer
// than 255 bytes (POSIX) or UTF-16 units (Windows), and on Windows a path
// longer than a reader can make below any work directory within the 32,767
// units of a long path. `entries` are those of all the plan's trees. Throws
// ToolError for the first.
void CheckPathLengths(const PackPlan& plan, const std::vector<TreeEntry>& entries,
                      bool windows_stub);

// The name the stub group records: the plan's stub name when it gives one
// (CheckPlan has checked it), else `stub_file_name`, the stub's own file name,
// refused as a given one would be, with a hint to give another. Throws
// ToolError.
std::string RecordedStubName(const PackPlan& plan, const std::string& stub_file_name);

// Why the reader could not extract a file under `name`, a single name with
// no directory part (a stub's name), or empty when it can: empty, too long,
// leaving the work directory, with a directory part, or a name that Windows
// cannot hold (RefusedWindowsName).
std::string RefusedFileName(std::string_view name);

// Why Windows could not hold `part`, one name of a path (not empty, no "/"),
// or empty when it can: characters < > : " | ? * \ and 0 to 31, a trailing
// dot or space (Windows drops it), or one of the device names CON, PRN, AUX,
// NUL, COM1 to COM9 and LPT1 to LPT9, in any case, with or without an
// extension.
std::string RefusedWindowsName(std::string_view part);

// Why the reader could not extract a file or directory at `path`, relative to
// the work directory, its names joined by "/" ("bin/setup.exe"), or empty
// when it can. Refused: an empty or too long path; a leading "/" or "\", a
// drive or a ".." (it would leave the work directory); a "\", an empty
// name or a "." between the separators; and any name Windows cannot hold
// (RefusedWindowsName).
std::string RefusedFilePath(std::string_view path);

}  // namespace tool
