// The memory floor of a tool whose options CLI11 parses: d88put's command
// line parsed, and nothing read or written. Built and linked like d88put.
#include <string>
#include <vector>

#include "cli/command_line.h"

int main(int argc, char** argv) {
  CLI::App app;
  cli::prepareCommandLine(app, argc > 0 ? argv[0] : "d88put", "d88put", help::Language::English);
  std::string image;
  std::string folder;
  bool resize = false;
  app.add_option("D88FILE", image)->required();
  app.add_option("FOLDER", folder)->required();
  app.add_flag("--resize", resize);
  const std::optional<int> status =
      cli::parseCommandLine(app, std::vector<std::string>(argv, argv + argc));
  return status ? *status : (resize ? 0 : 1);
}
