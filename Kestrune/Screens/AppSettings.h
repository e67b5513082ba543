// Every preference the window keeps, by name, with its default written once. GUI thread only.
#pragma once

#include <QByteArray>
#include <QString>

#include <memory>

class QSettings;

class AppSettings {
public:
    // The user's own settings file.
    AppSettings();
    // A settings file of its own (tests, screenshots).
    explicit AppSettings(const QString& file);
    ~AppSettings();
    AppSettings(const AppSettings&) = delete;
    AppSettings& operator=(const AppSettings&) = delete;

    [[nodiscard]] QByteArray windowGeometry() const;
    void setWindowGeometry(const QByteArray& value);
    [[nodiscard]] QByteArray splitterState() const;
    void setSplitterState(const QByteArray& value);
    [[nodiscard]] bool didResetWindowFrame() const;

    // Once per installation, forgets the saved window frame so that the window opens at its default
    // size again (earlier versions saved frames that were too small). Later launches keep the frame.
    void migrateDefaultWindowSizeIfNeeded();

    void sync();

private:
    std::unique_ptr<QSettings> settings;
};
