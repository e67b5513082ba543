// Keys carry the product prefix where they are flags, so that a later reset can use a new version.
#include "Kestrune/Screens/AppSettings.h"

#include <QSettings>

namespace {

const QString geometryKey = QStringLiteral("window/geometry");
const QString splitterKey = QStringLiteral("window/splitter");
const QString resetKey = QStringLiteral("kestrune.didResetWindowFrame.v3");

} // namespace

AppSettings::AppSettings() : settings(std::make_unique<QSettings>()) {}

AppSettings::AppSettings(const QString& file)
    : settings(std::make_unique<QSettings>(file, QSettings::IniFormat)) {}

AppSettings::~AppSettings() = default;

QByteArray AppSettings::windowGeometry() const {
    return settings->value(geometryKey).toByteArray();
}

void AppSettings::setWindowGeometry(const QByteArray& value) {
    settings->setValue(geometryKey, value);
}

QByteArray AppSettings::splitterState() const {
    return settings->value(splitterKey).toByteArray();
}

void AppSettings::setSplitterState(const QByteArray& value) {
    settings->setValue(splitterKey, value);
}

bool AppSettings::didResetWindowFrame() const {
    return settings->value(resetKey, false).toBool();
}

void AppSettings::migrateDefaultWindowSizeIfNeeded() {
    if (didResetWindowFrame()) {
        return;
    }
    settings->remove(geometryKey);
    settings->remove(splitterKey);
    settings->setValue(resetKey, true);
}

void AppSettings::sync() {
    settings->sync();
}
