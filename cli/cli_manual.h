// What orvane-cli says about itself besides --help, built from the same
// command table (cli/commands.cpp) so that a command or an option added
// there shows up everywhere at once: the manual page and the shell
// completions. The build runs the hidden options `--man` and
// `--completion SHELL` to write the installed files.
#pragma once

#include <ostream>
#include <string_view>

namespace orvane {

// orvane-cli(1) in man(7) roff.
void WriteCliManPage(std::ostream& out);

// The completion script for `shell` ("bash" or "fish"); false for another
// shell.
bool WriteCliCompletion(std::ostream& out, std::string_view shell);

}  // namespace orvane
