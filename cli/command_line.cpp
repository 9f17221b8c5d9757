#include "command_line.h"

#include <cstring>

#include "d88_text.h"
#include "version.h"

namespace {

// The help's option column: wide enough for "--disk N:0 to 63" and a
// required name.
constexpr std::size_t kOptionColumnWidth = 22;
// Decimal numbers of more digits than this are refused before conversion.
constexpr std::size_t kMostDigits = 9;

}  // namespace

void prepareCommandLine(CLI::App& app, const std::string& program, const char* tool) {
  app.name(program);
  app.set_help_flag("--help", "this text");
  app.set_version_flag("--version", std::string(tool) + " " + D88_VERSION, "the version");
  app.get_formatter()->column_width(kOptionColumnWidth);
}

std::optional<int> parseCommandLine(CLI::App& app, const std::vector<std::string>& arguments) {
  std::vector<const char*> argv;
  for (const std::string& argument : arguments) {
    argv.push_back(argument.c_str());
  }
  try {
    app.parse(static_cast<int>(argv.size()), argv.data());
  } catch (const CLI::CallForHelp&) {
    d88text::writeText(stdout, app.help());
    return 0;
  } catch (const CLI::CallForVersion& version) {
    d88text::writeText(stdout, std::string(version.what()) + "\n");
    return 0;
  } catch (const CLI::ParseError& error) {
    d88text::writeText(stderr, std::string("error: ") + error.what() + "\n" + app.help());
    return 1;
  }
  return std::nullopt;
}

CLI::Validator decimalIn(long low, long high) {
  const std::string range = std::to_string(low) + " to " + std::to_string(high);
  return CLI::Validator(
      [low, high, range](std::string& text) -> std::string {
        const bool digits = !text.empty() && text.size() <= kMostDigits &&
                            std::strspn(text.c_str(), "0123456789") == text.size();
        const long value = digits ? std::stol(text) : -1;
        if (!digits || value < low || value > high) {
          return "not a number from " + range + ": " + text;
        }
        return {};
      },
      range);
}
