#include "platform/profile.h"

#include "platform/text.h"

#include <QByteArray>
#include <QSettings>
#include <QString>

#include <memory>

namespace wp {
namespace {

// Names may hold any byte; letters, digits, '-' and '.' stay readable and
// everything else becomes "_HH", which QSettings leaves alone.
QString EscapeName(std::string_view name) {
    static const char kHex[] = "0123456789ABCDEF";
    QString out;
    out.reserve(static_cast<qsizetype>(name.size()));
    for (unsigned char ch : name) {
        bool plain = (ch >= 'A' && ch <= 'Z') || (ch >= 'a' && ch <= 'z') || (ch >= '0' && ch <= '9') ||
                     ch == '-' || ch == '.';
        if (plain) {
            out.append(QChar(ch));
        } else {
            out.append(QChar('_'));
            out.append(QChar(kHex[ch >> 4]));
            out.append(QChar(kHex[ch & 15]));
        }
    }
    return out;
}

// A section nests at each backslash: "WinPosition\\WinRect".
QString Key(std::string_view section, std::string_view name) {
    QString key;
    std::size_t start = 0;
    while (start <= section.size()) {
        std::size_t end = section.find('\\', start);
        if (end == std::string_view::npos) {
            end = section.size();
        }
        key += EscapeName(section.substr(start, end - start));
        key += QChar('/');
        start = end + 1;
    }
    key += EscapeName(name);
    return key;
}

// QSettings objects are cheap and reentrant: one per call keeps the profile
// usable from the worker thread too.
std::unique_ptr<QSettings> Open(const std::string& path) {
    return std::make_unique<QSettings>(QString::fromStdString(path), QSettings::IniFormat);
}

}  // namespace

Profile::Profile()
    : path_(QSettings(QSettings::IniFormat, QSettings::UserScope, "Moorfield", "Wrenpost")
                .fileName()
                .toStdString()) {}

Profile::Profile(std::string iniPath) : path_(std::move(iniPath)) {}

int Profile::GetInt(std::string_view section, std::string_view name, int defaultValue) const {
    auto settings = Open(path_);
    bool ok = false;
    int value = settings->value(Key(section, name)).toInt(&ok);
    return ok ? value : defaultValue;
}

void Profile::SetInt(std::string_view section, std::string_view name, int value) {
    auto settings = Open(path_);
    settings->setValue(Key(section, name), value);
}

std::string Profile::GetString(std::string_view section, std::string_view name,
                               std::string_view defaultValue) const {
    auto settings = Open(path_);
    QVariant value = settings->value(Key(section, name));
    if (!value.isValid()) {
        return std::string(defaultValue);
    }
    if (value.typeId() == QMetaType::QByteArray) {
        QByteArray bytes = value.toByteArray();
        return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
    }
    return QStringToCp932Lossy(value.toString());
}

void Profile::SetString(std::string_view section, std::string_view name, std::string_view value) {
    auto settings = Open(path_);
    QString text = Cp932ToQString(value);
    auto back = QStringToCp932(text);
    if (back && *back == value) {
        settings->setValue(Key(section, name), text);
    } else {
        // Not valid CP932: keep the bytes as they are rather than mangle them.
        settings->setValue(Key(section, name), QByteArray(value.data(), static_cast<qsizetype>(value.size())));
    }
}

std::optional<std::vector<std::uint8_t>> Profile::GetBinary(std::string_view section,
                                                            std::string_view name) const {
    auto settings = Open(path_);
    QVariant value = settings->value(Key(section, name));
    if (!value.isValid()) {
        return std::nullopt;
    }
    QByteArray bytes = value.toByteArray();
    return std::vector<std::uint8_t>(bytes.begin(), bytes.end());
}

void Profile::SetBinary(std::string_view section, std::string_view name,
                        const std::vector<std::uint8_t>& value) {
    auto settings = Open(path_);
    settings->setValue(Key(section, name),
                      QByteArray(reinterpret_cast<const char*>(value.data()), static_cast<qsizetype>(value.size())));
}

bool Profile::HasValue(std::string_view section, std::string_view name) const {
    auto settings = Open(path_);
    return settings->contains(Key(section, name));
}

void Profile::DeleteValue(std::string_view section, std::string_view name) {
    auto settings = Open(path_);
    settings->remove(Key(section, name));
}

void Profile::Sync() {
    auto settings = Open(path_);
    settings->sync();
}

}  // namespace wp
