#include "lanora/LanoraStrings.h"

#include <cstring>

namespace {
struct RText {
    int id;
    const char* text;
};
constexpr RText kTexts[] = {
    {1000, "Close"},
    {1001, "Refresh"},
    {1002, "Blink"},
    {1003, "Setup"},
    {1004, "Ping"},
    {1005, "Passport"},
    {1006, "Log"},
    {1007, "Clear"},
    {1008, "Export"},
    {1015, "Network parameters"},
    {1016, "Read device passport"},
    {1017, "IP address"},
    {1018, "Network mask"},
    {1019, "Default gateway"},
    {1020, "Use this option if device is not connected \ndirectly to LAN and not shows up in the list."},
    {1021, "Management port"},
    {1022, "Data port"},
    {1023, "OK"},
    {1024, "Cancel"},
    {3001, "MAC"},
    {3002, "IP"},
    {3003, "Model"},
    {3011, "Ethernet adapter on this computer is not functioning properly!"},
    {3012, "LED on the selected device will blink 3 times."},
    {3013, "Network parameters were set. \nThe device will not respond for 10-15 seconds."},
    {3014, "Warning: If you change IP address of a device, it will be disconnected.\nIf this IP address is registered "
           "in any software, it will no longer be accessible.\n\nDo you really want to proceed?"},
    {3016, "Device is not responding!"},
    {3017, "Invalid IP address!"},
    {3018, "Text files (*.txt)|*.txt||"},
    {3019, "Error saving file!"},
    {3040, "Date"},
    {3041, "Time"},
    {3042, "MAC"},
    {3043, "Model"},
    {3044, "Message"},

    {1100, "Закрыть"},
    {1101, "Обновить"},
    {1102, "Мигнуть"},
    {1103, "Настроить"},
    {1104, "Пинг"},
    {1105, "Паспорт"},
    {1106, "Журнал"},
    {1107, "Очистить"},
    {1108, "Экспорт"},
    {1115, "Сетевые параметры"},
    {1116, "Чтение паспорта устройства"},
    {1117, "IP-адрес"},
    {1118, "Маска сети"},
    {1119, "Основной шлюз"},
    {1120, "Используйте этот вариант, если устройство подключено \nне напрямую к сети и не появляется в списке."},
    {1121, "Порт управления"},
    {1122, "Порт данных"},
    {1123, "ОК"},
    {1124, "Отмена"},
    {3101, "MAC"},
    {3102, "IP"},
    {3103, "Модель"},
    {3111, "Сетевой адаптер этого компьютера работает неправильно!"},
    {3112, "Светодиод выбранного устройства мигнёт 3 раза."},
    {3113, "Сетевые параметры установлены. \nУстройство не будет отвечать 10-15 секунд."},
    {3114, "Внимание: если изменить IP-адрес устройства, связь с ним прервётся.\nЕсли этот IP-адрес записан в "
           "каком-либо программном обеспечении, устройство станет для него недоступно.\n\nВы действительно хотите "
           "продолжить?"},
    {3116, "Устройство не отвечает!"},
    {3117, "Неверный IP-адрес!"},
    {3118, "Текстовые файлы (*.txt)|*.txt||"},
    {3119, "Ошибка сохранения файла!"},
    {3140, "Дата"},
    {3141, "Время"},
    {3142, "MAC"},
    {3143, "Модель"},
    {3144, "Сообщение"},
};
}  // namespace

const char* LanoraText(int id, int language) {
    int want = language == kLanoraRussian ? id + 100 : id;
    for (const auto& t : kTexts)
        if (t.id == want) return t.text;
    for (const auto& t : kTexts)  // a missing translation falls back to English
        if (t.id == id) return t.text;
    return "";
}

int LanoraDefaultLanguage(const char* localeName) {
    return localeName && std::strncmp(localeName, "ru", 2) == 0 ? kLanoraRussian : kLanoraEnglish;
}
