#include "app/settings_store.h"

#include <QSettings>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <algorithm>
#include <cstdlib>

#include "cli/user_folders.h"
#include "core/platform/format.h"

namespace kestrel {

namespace {

QString toQString(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QString settingsKey(std::string_view section, std::string_view key) {
    return toQString(section) + QLatin1Char('/') + toQString(key);
}

// An INI value with unquoted commas comes back as a list; the text is what the user wrote.
std::string variantText(const QVariant& value) {
    if (value.metaType().id() == QMetaType::QStringList) {
        return value.toStringList().join(QLatin1Char(',')).toStdString();
    }
    return value.toString().toStdString();
}

HResult statusCode(QSettings::Status status) {
    switch (status) {
        case QSettings::NoError:
            return kOk;
        case QSettings::AccessError:
            return hresultFromWin32(win32::kAccessDenied);
        case QSettings::FormatError:
            return kFail;
    }
    return kFail;
}

std::string formatRect(const SettingsRect& rect) {
    return safeFormat("%d,%d,%d,%d", {rect.left, rect.top, rect.right, rect.bottom});
}

// Reads "%d" as scanf does: blanks, an optional sign, at least one digit. Returns false, leaving
// `pos` where it was, when there is no number.
bool scanInt(std::string_view text, std::size_t& pos, int& value) {
    std::size_t at = pos;
    while (at < text.size() &&
           (text[at] == ' ' || text[at] == '\t' || text[at] == '\n' || text[at] == '\r')) {
        ++at;
    }
    bool negative = false;
    if (at < text.size() && (text[at] == '-' || text[at] == '+')) {
        negative = text[at] == '-';
        ++at;
    }
    std::size_t digitsStart = at;
    long long number = 0;
    constexpr long long kLimit = 0x80000000LL;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
        number = std::min(number * 10 + (text[at] - '0'), kLimit);
        ++at;
    }
    if (at == digitsStart) return false;
    // Out-of-range numbers saturate rather than wrap.
    value = static_cast<int>(negative ? std::max(-number, -kLimit) : std::min(number, kLimit - 1));
    pos = at;
    return true;
}

}  // namespace

std::filesystem::path settingsFilePath() {
#ifdef Q_OS_WIN
    return {};
#else
    return settingsIniPath();
#endif
}

SettingsStore::SettingsStore() {
#ifdef Q_OS_WIN
    settings_ = std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                            QStringLiteral("Quillon"), QStringLiteral("Kestrel"));
#else
    // The same file the native format uses on Linux, but located from the environment each time a
    // store is made: QSettings remembers the configuration folder of the first use per process.
    settings_ = std::make_unique<QSettings>(QString::fromStdString(settingsFilePath().string()),
                                            QSettings::IniFormat);
#endif
}

SettingsStore::~SettingsStore() {
    settings_->sync();
}

HResult SettingsStore::GetIntSetting(std::string_view section, std::string_view key, int& value,
                                     int defaultValue) const {
    value = defaultValue;
    QVariant stored = settings_->value(settingsKey(section, key));
    if (!stored.isValid()) return kOk;
    std::int64_t number = 0;
    if (parseInt(variantText(stored), number)) {
        value = static_cast<int>(std::clamp<std::int64_t>(number, INT32_MIN, INT32_MAX));
    }
    return kOk;
}

HResult SettingsStore::SetIntSetting(std::string_view section, std::string_view key, int value) {
    settings_->setValue(settingsKey(section, key), value);
    return kOk;
}

HResult SettingsStore::GetStringSetting(std::string_view section, std::string_view key, std::string& text,
                                        std::string_view defaultText) const {
    QVariant stored = settings_->value(settingsKey(section, key));
    text = stored.isValid() ? variantText(stored) : std::string(defaultText);
    return kOk;
}

HResult SettingsStore::SetStringSetting(std::string_view section, std::string_view key,
                                        std::string_view text) {
    settings_->setValue(settingsKey(section, key), toQString(text));
    return kOk;
}

HResult SettingsStore::GetRectSetting(std::string_view section, std::string_view key, SettingsRect& rect,
                                      const SettingsRect& defaultRect) const {
    std::string text;
    (void)GetStringSetting(section, key, text, formatRect(defaultRect));
    int* fields[] = {&rect.left, &rect.top, &rect.right, &rect.bottom};
    std::size_t pos = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        if (i > 0) {
            if (pos >= text.size() || text[pos] != ',') break;
            ++pos;
        }
        int value = 0;
        if (!scanInt(text, pos, value)) break;
        *fields[i] = value;
    }
    return kOk;
}

HResult SettingsStore::SetRectSetting(std::string_view section, std::string_view key,
                                      const SettingsRect& rect) {
    return SetStringSetting(section, key, formatRect(rect));
}

HResult SettingsStore::DeleteSection(std::string_view section) {
    settings_->remove(toQString(section));
    return sync();
}

void SettingsStore::removeSection(std::string_view section) {
    settings_->remove(toQString(section));
}

void SettingsStore::removeKey(std::string_view section, std::string_view key) {
    settings_->remove(settingsKey(section, key));
}

bool SettingsStore::contains(std::string_view section, std::string_view key) const {
    return settings_->contains(settingsKey(section, key));
}

HResult SettingsStore::sync() {
    settings_->sync();
    return statusCode(settings_->status());
}

HResult SettingsStore::status() const {
    return statusCode(settings_->status());
}

std::filesystem::path SettingsStore::fileName() const {
#ifdef Q_OS_WIN
    return {};
#else
    return std::filesystem::path(settings_->fileName().toStdString());
#endif
}

}  // namespace kestrel
