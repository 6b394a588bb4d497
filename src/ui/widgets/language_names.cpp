#include "ui/widgets/language_names.h"

#include <QCoreApplication>
#include <QHash>
#include <QLocale>

namespace kestrel::ui {

namespace {

struct LanguageEntry {
    std::uint16_t number;
    const char* tag;
};

// The language numbers resources commonly carry, ascending.
constexpr LanguageEntry kLanguages[] = {
    {0x0401, "ar-SA"},      {0x0402, "bg-BG"},      {0x0403, "ca-ES"},      {0x0404, "zh-TW"},
    {0x0405, "cs-CZ"},      {0x0406, "da-DK"},      {0x0407, "de-DE"},      {0x0408, "el-GR"},
    {0x0409, "en-US"},      {0x040A, "es-ES"},      {0x040B, "fi-FI"},      {0x040C, "fr-FR"},
    {0x040D, "he-IL"},      {0x040E, "hu-HU"},      {0x040F, "is-IS"},      {0x0410, "it-IT"},
    {0x0411, "ja-JP"},      {0x0412, "ko-KR"},      {0x0413, "nl-NL"},      {0x0414, "nb-NO"},
    {0x0415, "pl-PL"},      {0x0416, "pt-BR"},      {0x0417, "rm-CH"},      {0x0418, "ro-RO"},
    {0x0419, "ru-RU"},      {0x041A, "hr-HR"},      {0x041B, "sk-SK"},      {0x041C, "sq-AL"},
    {0x041D, "sv-SE"},      {0x041E, "th-TH"},      {0x041F, "tr-TR"},      {0x0420, "ur-PK"},
    {0x0421, "id-ID"},      {0x0422, "uk-UA"},      {0x0423, "be-BY"},      {0x0424, "sl-SI"},
    {0x0425, "et-EE"},      {0x0426, "lv-LV"},      {0x0427, "lt-LT"},      {0x0428, "tg-Cyrl-TJ"},
    {0x0429, "fa-IR"},      {0x042A, "vi-VN"},      {0x042B, "hy-AM"},      {0x042C, "az-Latn-AZ"},
    {0x042D, "eu-ES"},      {0x042E, "hsb-DE"},     {0x042F, "mk-MK"},      {0x0432, "tn-ZA"},
    {0x0434, "xh-ZA"},      {0x0435, "zu-ZA"},      {0x0436, "af-ZA"},      {0x0437, "ka-GE"},
    {0x0438, "fo-FO"},      {0x0439, "hi-IN"},      {0x043A, "mt-MT"},      {0x043B, "se-NO"},
    {0x043E, "ms-MY"},      {0x043F, "kk-KZ"},      {0x0440, "ky-KG"},      {0x0441, "sw-KE"},
    {0x0442, "tk-TM"},      {0x0443, "uz-Latn-UZ"}, {0x0444, "tt-RU"},      {0x0445, "bn-IN"},
    {0x0446, "pa-IN"},      {0x0447, "gu-IN"},      {0x0448, "or-IN"},      {0x0449, "ta-IN"},
    {0x044A, "te-IN"},      {0x044B, "kn-IN"},      {0x044C, "ml-IN"},      {0x044D, "as-IN"},
    {0x044E, "mr-IN"},      {0x044F, "sa-IN"},      {0x0450, "mn-MN"},      {0x0451, "bo-CN"},
    {0x0452, "cy-GB"},      {0x0453, "km-KH"},      {0x0454, "lo-LA"},      {0x0456, "gl-ES"},
    {0x045A, "syr-SY"},     {0x045B, "si-LK"},      {0x045E, "am-ET"},      {0x0461, "ne-NP"},
    {0x0462, "fy-NL"},      {0x0463, "ps-AF"},      {0x0464, "fil-PH"},     {0x0468, "ha-NG"},
    {0x046A, "yo-NG"},      {0x046E, "lb-LU"},      {0x046F, "kl-GL"},      {0x0470, "ig-NG"},
    {0x047E, "br-FR"},      {0x0480, "ug-CN"},      {0x0481, "mi-NZ"},      {0x0487, "rw-RW"},
    {0x0488, "wo-SN"},      {0x0491, "gd-GB"},      {0x0801, "ar-IQ"},      {0x0804, "zh-CN"},
    {0x0807, "de-CH"},      {0x0809, "en-GB"},      {0x080A, "es-MX"},      {0x080C, "fr-BE"},
    {0x0810, "it-CH"},      {0x0813, "nl-BE"},      {0x0814, "nn-NO"},      {0x0816, "pt-PT"},
    {0x081A, "sr-Latn-RS"}, {0x081D, "sv-FI"},      {0x0C01, "ar-EG"},      {0x0C04, "zh-HK"},
    {0x0C07, "de-AT"},      {0x0C09, "en-AU"},      {0x0C0A, "es-ES"},      {0x0C0C, "fr-CA"},
    {0x0C1A, "sr-Cyrl-RS"}, {0x1004, "zh-SG"},      {0x1009, "en-CA"},      {0x100C, "fr-CH"},
    {0x1409, "en-NZ"},      {0x1809, "en-IE"},      {0x241A, "sr-Latn-RS"}, {0x2C0A, "es-AR"},
};

constexpr std::uint16_t kPrimaryMask = 0x03FF;

QString capitalised(QString text) {
    if (!text.isEmpty()) text[0] = text[0].toUpper();
    return text;
}

}  // namespace

QString languageTag(std::uint16_t language) {
    for (const LanguageEntry& entry : kLanguages)
        if (entry.number == language) return QString::fromLatin1(entry.tag);
    return {};
}

namespace {

// The language's own name without a regional qualifier: Qt names en-US "American English" and
// es-MX "español de México", while the country follows in brackets anyway. The shortest name of
// another locale of that language and script that the own name contains is the plain one
// ("English", "español"); a name that is not part of it (nl-BE's "Vlaams" for nl-NL's
// "Nederlands") is another name, not a shorter form.
QString plainLanguageName(const QLocale& locale) {
    const QString own = locale.nativeLanguageName();
    QString best = own;
    for (const QLocale& other :
         QLocale::matchingLocales(locale.language(), locale.script(), QLocale::AnyTerritory)) {
        const QString name = other.nativeLanguageName();
        if (!name.isEmpty() && name.size() < best.size() && own.contains(name, Qt::CaseInsensitive))
            best = name;
    }
    return capitalised(best);
}

QString localeName(std::uint16_t language) {
    if (const QString tag = languageTag(language); !tag.isEmpty()) {
        const QLocale locale(tag);
        if (locale.language() != QLocale::C) {
            const QString territory = locale.nativeTerritoryName();
            const QString name = plainLanguageName(locale);
            return territory.isEmpty() ? name : name + QStringLiteral(" (") + territory + QLatin1Char(')');
        }
    }
    // A country the table does not know: the language of any entry with the same primary language.
    for (const LanguageEntry& entry : kLanguages) {
        if ((entry.number & kPrimaryMask) != (language & kPrimaryMask)) continue;
        const QLocale locale(QString::fromLatin1(entry.tag));
        if (locale.language() != QLocale::C) return plainLanguageName(locale);
    }
    return QString::number(language);
}

}  // namespace

QString languageDisplayName(std::uint16_t language) {
    if (language == 0) return QCoreApplication::translate("kestrel::ui::LanguageNames", "语言中立");
    // Looking through Qt's locales takes a while; a file has few languages and many resources.
    static QHash<std::uint16_t, QString> names;
    auto found = names.constFind(language);
    if (found != names.constEnd()) return *found;
    return names.insert(language, localeName(language)).value();
}

std::vector<std::uint16_t> knownLanguages() {
    std::vector<std::uint16_t> numbers;
    for (const LanguageEntry& entry : kLanguages)
        numbers.push_back(entry.number);
    return numbers;
}

}  // namespace kestrel::ui
