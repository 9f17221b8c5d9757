#include "cli/help_text.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>

#ifdef _WIN32
#include <windows.h>
#endif

namespace help {

namespace {

bool isSet(const char* value) {
  return value != nullptr && value[0] != '\0';
}

// The help is written in UTF-8: a locale that names another code set
// ("ja_JP.eucJP", "ja_JP.SJIS") gets the English one rather than bytes its
// terminal shows as garbage. "UTF-8", "utf8" and "UTF8" are the same name.
bool namesOtherCodeSet(const char* locale) {
  const char* dot = std::strchr(locale, '.');
  if (dot == nullptr) {
    return false;
  }
  std::string name;
  for (const char* c = dot + 1; *c != '\0' && *c != '@'; ++c) {
    if (*c != '-' && *c != '_') {
      name += static_cast<char>(std::tolower(static_cast<unsigned char>(*c)));
    }
  }
  return name != "utf8";
}

}  // namespace

Language languageOfLocale(const char* lcAll, const char* lcMessages, const char* lang) {
  const char* locale = isSet(lcAll) ? lcAll : isSet(lcMessages) ? lcMessages : lang;
  if (!isSet(locale) || std::strncmp(locale, "ja", 2) != 0) {
    return Language::English;
  }
  // "ja" alone, or with a territory, code set or modifier after it.
  if (locale[2] != '\0' && std::strchr("_.@-", locale[2]) == nullptr) {
    return Language::English;
  }
  return namesOtherCodeSet(locale) ? Language::English : Language::Japanese;
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
