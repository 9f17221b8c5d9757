// The command lines of d88info and d88put, parsed by CLI11: the options every
// tool has (--help, --version), usage errors reported alike, and the checks
// of numbers given as options. The help is in the run's language
// (help_text.h); the usage errors are in English whatever the language.
#pragma once

#include <CLI/CLI.hpp>
#include <optional>
#include <string>
#include <vector>

#include "cli/help_text.h"

namespace cli {

// An application named after the program (argv[0]) with --help ("this text")
// and --version ("TOOL 1.0.0"), its help's headings in `language` and its
// columns aligned as a terminal shows them; the tool adds its own options,
// their descriptions in the same language.
void prepareCommandLine(CLI::App& app, const std::string& program, const char* tool,
                        help::Language language);

// Parses the UTF-8 arguments (argv[0] first). Returns nothing when the tool
// goes on, else its exit status: 0 after --help (the help on standard
// output) or --version, 1 after a usage error ("error: WHAT" and the help on
// standard error). CLI11's exceptions end here.
[[nodiscard]] std::optional<int> parseCommandLine(CLI::App& app,
                                                  const std::vector<std::string>& arguments);

// A number option's check: decimal digits only (no sign, no 0x, no octal),
// from low to high; the help shows the range ("0 to 63").
[[nodiscard]] CLI::Validator decimalIn(long low, long high);
// A number option of `app`, its value called `name`, checked by decimalIn;
// the help shows "N:0 to 63" or "N:0～63" by the language, the usage errors
// "N:0 to 63" in both.
CLI::Option* numberIn(CLI::App& app, CLI::Option* option, const std::string& name, long low,
                      long high, help::Language language);

}  // namespace cli
