// Test builds for Windows only: collecting the reader's message boxes.
//
// The reader's code is linked into the tests unchanged, so its MessageBoxW
// calls go through this program's import table. While capturing, that entry
// points at a recorder instead, which writes each box as the POSIX reader
// writes its messages ("caption: text", each line break a "\\n"), so that the
// same expectations hold on both systems. Outside a capture, boxes are
// written to standard error the same way and never shown.
#pragma once

#include <string>

namespace test {

void StartCapturingMessageBoxes();
std::string StopCapturingMessageBoxes();

}  // namespace test
