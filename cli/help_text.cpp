#include "cli/help_text.h"

#include <cstdlib>
#include <cstring>

#ifdef _WIN32
#include <windows.h>
#endif

namespace help {

namespace {

bool isSet(const char* value) {
  return value != nullptr && value[0] != '\0';
}

}  // namespace

Language languageOfLocale(const char* lcAll, const char* lcMessages, const char* lang) {
  const char* locale = isSet(lcAll) ? lcAll : isSet(lcMessages) ? lcMessages : lang;
  if (!isSet(locale) || std::strncmp(locale, "ja", 2) != 0) {
    return Language::English;
  }
  // "ja" alone, or with a territory, code set or modifier after it.
  return locale[2] == '\0' || std::strchr("_.@-", locale[2]) != nullptr ? Language::Japanese
                                                                        : Language::English;
}

Language languageOfRun() {
  const char* lcAll = std::getenv("LC_ALL");
  const char* lcMessages = std::getenv("LC_MESSAGES");
  const char* lang = std::getenv("LANG");
#ifdef _WIN32
  // A shell that sets the locale's variables (MSYS2, Cygwin) has the last
  // word, as for programs built with gettext; else the language of the UI.
  if (!isSet(lcAll) && !isSet(lcMessages) && !isSet(lang)) {
    return PRIMARYLANGID(GetUserDefaultUILanguage()) == LANG_JAPANESE ? Language::Japanese
                                                                      : Language::English;
  }
#endif
  return languageOfLocale(lcAll, lcMessages, lang);
}

}  // namespace help
