// The commands that go online, as orvane-cli runs them: in
// orvane-cli-online, the same tool linked with the FTP client. orvane-cli
// references nothing of libcurl, so the dynamic loader never maps it and
// its dozens of libraries for the commands that stay offline.
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <string>

#include "cli/cli_context.h"
#include "cli/commands.h"
#include "document/program_dir.h"

namespace orvane {

int ExecOnlineProgram(char** argv) {
  const std::filesystem::path program = ExecutableDirectory() / "orvane-cli-online";
  std::cout.flush();
  ::execv(program.c_str(), argv);
  std::cerr << "orvane-cli: cannot run " << program.string() << ": " << std::strerror(errno)
            << "\n";
  return kExitFailed;
}

// main hands every online command to ExecOnlineProgram before it gets here.
int RunUpdate(CliContext& context, const std::vector<std::string>&) {
  return context.Fail(kExitFailed, "orvane-cli: update runs in orvane-cli-online");
}

int RunTrust(CliContext& context, const std::vector<std::string>&) {
  return context.Fail(kExitFailed, "orvane-cli: trust runs in orvane-cli-online");
}

}  // namespace orvane
