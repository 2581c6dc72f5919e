// The gaugebench commands, callable from tests as from the command line.
#pragma once

#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

namespace cli {

// Bad command-line use: the message is one line; exit status 2.
struct UsageError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Runs one command; returns the exit status. Other failures throw with a one-line message.
int Run(const std::string& command, const std::vector<std::string>& args, std::ostream& out);

}  // namespace cli
