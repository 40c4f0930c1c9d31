#include "platform/profile.h"

#include "platform/text.h"

#include <QByteArray>
#include <QSettings>
#include <QString>
#include <QVariant>

#include <utility>

namespace wp {
namespace {

// Names may hold any byte; letters, digits, '-' and '.' stay readable and
// everything else becomes "_HH", which QSettings leaves alone. An empty name
// becomes a lone "_", which no other name gives.
QString EscapeName(std::string_view name) {
    static const char kHex[] = "0123456789ABCDEF";
    if (name.empty()) {
        return QStringLiteral("_");
    }
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

// A section nests at each backslash: "WinPosition\\WinRect". The empty
// section is the top level.
QString Group(std::string_view section) {
    QString group;
    if (section.empty()) {
        return group;
    }
    std::size_t start = 0;
    for (;;) {
        std::size_t end = section.find('\\', start);
        if (!group.isEmpty()) {
            group += QChar('/');
        }
        if (end == std::string_view::npos) {
            group += EscapeName(section.substr(start));
            return group;
        }
        group += EscapeName(section.substr(start, end - start));
        start = end + 1;
    }
}

QString Key(std::string_view section, std::string_view name) {
    QString group = Group(section);
    return group.isEmpty() ? EscapeName(name) : group + QChar('/') + EscapeName(name);
}

// One QSettings per call: each call sees what other Profile objects (and
// other threads) wrote before it, and its own change is on disk when it
// returns. QSettings objects are reentrant and share the parsed file.
class Settings {
public:
    explicit Settings(const std::string& path)
        : settings_(QString::fromStdString(path), QSettings::IniFormat) {}
    QSettings* operator->() { return &settings_; }
    bool Commit() {
        settings_.sync();
        return settings_.status() == QSettings::NoError;
    }

private:
    QSettings settings_;
};

}  // namespace

Profile::Profile()
    : path_(QSettings(QSettings::IniFormat, QSettings::UserScope, "Moorfield", "Wrenpost")
                .fileName()
                .toStdString()) {}

Profile::Profile(std::string iniPath) : path_(std::move(iniPath)) {}

int Profile::GetInt(std::string_view section, std::string_view name, int defaultValue) const {
    Settings settings(path_);
    QVariant value = settings->value(Key(section, name));
    bool ok = false;
    int number = value.toInt(&ok);
    return value.isValid() && ok ? number : defaultValue;
}

bool Profile::SetInt(std::string_view section, std::string_view name, int value) {
    Settings settings(path_);
    settings->setValue(Key(section, name), value);
    return settings.Commit();
}

std::string Profile::GetString(std::string_view section, std::string_view name,
                               std::string_view defaultValue) const {
    Settings settings(path_);
    QVariant value = settings->value(Key(section, name));
    if (!value.isValid()) {
        return std::string(defaultValue);
    }
    if (value.typeId() == QMetaType::QByteArray) {
        QByteArray bytes = value.toByteArray();
        return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
    }
    if (value.typeId() == QMetaType::QStringList) {
        // An unquoted comma in a hand-edited file splits the text; keep it whole.
        return QStringToCp932Lossy(value.toStringList().join(QStringLiteral(", ")));
    }
    return QStringToCp932Lossy(value.toString());
}

bool Profile::SetString(std::string_view section, std::string_view name, std::string_view value) {
    Settings settings(path_);
    QString text = Cp932ToQString(value);
    auto back = QStringToCp932(text);
    if (back && *back == value) {
        settings->setValue(Key(section, name), text);
    } else {
        // Not valid CP932 (or a duplicate code that would come back as its
        // twin): keep the bytes as they are rather than change them.
        settings->setValue(Key(section, name), QByteArray(value.data(), static_cast<qsizetype>(value.size())));
    }
    return settings.Commit();
}

std::optional<std::vector<std::uint8_t>> Profile::GetBinary(std::string_view section,
                                                            std::string_view name) const {
    Settings settings(path_);
    QVariant value = settings->value(Key(section, name));
    if (!value.isValid()) {
        return std::nullopt;
    }
    QByteArray bytes = value.toByteArray();
    return std::vector<std::uint8_t>(bytes.begin(), bytes.end());
}

bool Profile::SetBinary(std::string_view section, std::string_view name,
                        const std::vector<std::uint8_t>& value) {
    Settings settings(path_);
    settings->setValue(Key(section, name), QByteArray(reinterpret_cast<const char*>(value.data()),
                                                      static_cast<qsizetype>(value.size())));
    return settings.Commit();
}

bool Profile::HasValue(std::string_view section, std::string_view name) const {
    Settings settings(path_);
    return settings->contains(Key(section, name));
}

bool Profile::DeleteValue(std::string_view section, std::string_view name) {
    Settings settings(path_);
    const QString key = Key(section, name);
    // QSettings removes a key together with everything below it; a value
    // goes alone, and a section of the same name stays.
    settings->beginGroup(key);
    const QStringList below = settings->allKeys();
    QList<QVariant> kept;
    for (const QString& k : below) {
        kept.append(settings->value(k));
    }
    settings->endGroup();
    if (!settings->contains(key)) {
        return true;
    }
    settings->remove(key);
    for (qsizetype i = 0; i < below.size(); ++i) {
        settings->setValue(key + QChar('/') + below[i], kept[i]);
    }
    return settings.Commit();
}

bool Profile::Sync() {
    Settings settings(path_);
    return settings.Commit();
}

}  // namespace wp
