#include "cli/command_line.h"

#include <cstring>
#include <memory>

#include "cli/version.h"
#include "text/d88_text.h"

namespace cli {

namespace {

// The help's option column: wide enough for "--disk N:0 to 63" and a
// required name.
constexpr std::size_t kOptionColumnWidth = 22;
// Decimal numbers of more digits than this are refused before conversion.
constexpr std::size_t kMostDigits = 9;

// CLI11's option lines, their description column found by the columns the
// name takes on a terminal rather than by its bytes, so that a Japanese
// label ("必須") or range ("0～63") keeps the descriptions in line.
class TerminalColumnsFormatter final : public CLI::Formatter {
 public:
  std::string make_option(const CLI::Option* option, bool positional) const override {
    std::string line = "  " + make_option_name(option, positional) + make_option_opts(option);
    const std::size_t width = get_column_width();
    const std::size_t used = d88text::displayWidth(line);
    if (used < width) {
      line.append(width - used, ' ');
    }
    const std::string description = make_option_desc(option);
    if (!description.empty()) {
      // A name that fills the column puts its description on the next line.
      if (used >= width) {
        line += "\n" + std::string(width, ' ');
      }
      for (const char c : description) {
        line += c;
        if (c == '\n') {
          line.append(width, ' ');
        }
      }
    }
    return line + "\n";
  }
};

}  // namespace

void prepareCommandLine(CLI::App& app, const std::string& program, const char* tool,
                        help::Language language) {
  app.name(program);
  auto formatter = std::make_shared<TerminalColumnsFormatter>();
  formatter->column_width(kOptionColumnWidth);
  formatter->label("Usage", help::kUsage.in(language));
  formatter->label("OPTIONS", help::kOptionsInUsage.in(language));
  formatter->label("Positionals", help::kPositionals.in(language));
  formatter->label("REQUIRED", help::kRequired.in(language));
  app.formatter(formatter);
  // The group every option (--help and --version too) is listed under.
  app.option_defaults()->group(help::kOptions.in(language));
  app.set_help_flag("--help", help::kHelp.in(language));
  app.set_version_flag("--version", std::string(tool) + " " + D88_VERSION,
                       help::kVersion.in(language));
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

CLI::Option* numberIn(CLI::App& app, CLI::Option* option, const std::string& name, long low,
                      long high, help::Language language) {
  const std::string from = std::to_string(low);
  const std::string to = std::to_string(high);
  // CLI11 names the option's value NAME:RANGE, in its errors too; only the
  // help's label of that name follows the language.
  app.get_formatter()->label(name + ":" + from + " to " + to,
                             name + ":" + from + help::kRangeTo.in(language) + to);
  return option->type_name(name)->check(decimalIn(low, high));
}

}  // namespace cli
