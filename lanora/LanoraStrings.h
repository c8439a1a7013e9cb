#pragma once

// The setup tool's texts by English string id; Russian lives at id + 100. UTF-8.
enum ELanoraLanguage { kLanoraEnglish = 0, kLanoraRussian = 1 };
const char* LanoraText(int id, int language);
// The default language: Russian when the user's locale is Russian (language id 1049 on the
// original platform), English otherwise. localeName as "ru_RU.UTF-8", "ru", "en_GB".
int LanoraDefaultLanguage(const char* localeName);
