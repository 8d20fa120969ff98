// Entry point of the POSIX reader: argv becomes the command-line tail that a
// Windows program would have received.
#include <string>
#include <vector>

#include "command_line.h"
#include "run_sequence.h"

int main(int argc, char** argv) {
  const std::vector<std::string> arguments(argv + (argc > 0 ? 1 : 0), argv + argc);
  return reader::RunReader(format::JoinCommandLine(arguments));
}
